// TComboBox: a drop-down list with one replaceable change handler that runs
// only when the text it shows changes, by the user or by the program. With no
// entry selected it shows its placeholder text, so selecting the entry that
// reads the same changes nothing it shows and notifies nobody.
#pragma once

#include <functional>

#include <QComboBox>
#include <QString>

class TComboBox : public QComboBox {
    Q_OBJECT

  public:
    explicit TComboBox(QWidget* parent = nullptr);

    // What the closed list shows: the selected entry, else the placeholder.
    QString ShownText() const;

    // Between the two, changes do not notify; EndUpdate notifies once when
    // the shown text then differs from what it was at BeginUpdate.
    void BeginUpdate();
    void EndUpdate();

    // The change handler; assigning one replaces the previous one.
    std::function<void(QObject* sender)> OnChange;

    // Opening the list tells DroppedDown first.
    void showPopup() override;

  signals:
    // The user opened the list.
    void DroppedDown();

  private:
    void CheckShownText();

    QString FShownText;
    int FUpdating = 0;
};
