// The cutting frame's dialogs answered by a test: queued answers, and a record
// of what each dialog was asked.
#pragma once

#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include <QImage>
#include <QString>

#include "photocut/PhotoShopDialogs.h"

// Answers the frame's dialogs from queues and records what they were asked.
struct FakeDialogs final : TPhotoShopDialogs {
    std::deque<QString> openAnswers;
    std::deque<TSaveChoice> saveAnswers;
    std::deque<QString> customSizeAnswers;          // a null string: cancelled
    std::deque<std::optional<QRgb>> colourAnswers;  // nullopt: cancelled
    bool confirmPrint = true;

    std::vector<QString> opened;     // folders the open dialog started in
    std::vector<QString> proposals;  // names the save dialog proposed
    std::vector<QString> customSizesProposed;
    std::vector<QRgb> coloursProposed;
    std::vector<QImage> sheets;
    std::vector<int> copies;
    std::vector<QString> messages;
    std::vector<QString> errors;

    QString OpenFileName(QWidget*, const QString& folder) override {
        opened.push_back(folder);
        return Take(openAnswers);
    }
    TSaveChoice SaveFileName(QWidget*, const QString& proposed) override {
        proposals.push_back(proposed);
        return Take(saveAnswers);
    }
    bool ConfirmPrintSheet(QWidget*, const QImage& sheet, int n) override {
        sheets.push_back(sheet);
        copies.push_back(n);
        return confirmPrint;
    }
    std::optional<QString> CustomSize(QWidget*, const QString& current) override {
        customSizesProposed.push_back(current);
        QString answer = Take(customSizeAnswers);
        return answer.isNull() ? std::nullopt : std::optional<QString>(std::move(answer));
    }
    std::optional<QRgb> BackgroundColour(QWidget*, QRgb current) override {
        coloursProposed.push_back(current);
        return Take(colourAnswers);
    }
    void ShowMessage(QWidget*, const QString& text) override { messages.push_back(text); }
    void ShowError(QWidget*, const QString& text) override { errors.push_back(text); }

  private:
    template <typename T>
    static T Take(std::deque<T>& queue) {
        if (queue.empty()) {
            return T{};
        }
        T answer = queue.front();
        queue.pop_front();
        return answer;
    }
};
