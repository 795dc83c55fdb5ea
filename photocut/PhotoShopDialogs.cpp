// The cutting frame's dialogs as Qt shows them.
#include "photocut/PhotoShopDialogs.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "photocut/PrintSheet.h"

namespace {

// File dialogs match name filters by letter case on Linux, so each pattern is offered
// in both cases.
QString Patterns(std::initializer_list<const char*> extensions) {
    QStringList patterns;
    for (const char* e : extensions) {
        patterns << QStringLiteral("*.%1").arg(QLatin1String(e));
    }
    for (const char* e : extensions) {
        patterns << QStringLiteral("*.%1").arg(QLatin1String(e).toString().toUpper());
    }
    return patterns.join(QLatin1Char(' '));
}

class TQtPhotoShopDialogs final : public TPhotoShopDialogs {
  public:
    QString OpenFileName(QWidget* parent, const QString& folder) override {
        const QString filters =
            QStringLiteral("Images (%1);;All files (*)")
                .arg(Patterns({"jpg", "jpeg", "jpe", "jfif", "bmp", "dib", "png"}));
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Open file"), folder, filters);
    }

    TSaveChoice SaveFileName(QWidget* parent, const QString& proposed) override {
        QFileDialog dialog(parent, QStringLiteral("保存照片"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters({QStringLiteral("JPEG (%1)").arg(Patterns({"jpg", "jpeg"})),
                               QStringLiteral("BMP (%1)").arg(Patterns({"bmp"}))});
        dialog.setDefaultSuffix(QStringLiteral("jpg"));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& filter) {
                             dialog.setDefaultSuffix(filter.startsWith(QLatin1String("BMP"))
                                                         ? QStringLiteral("bmp")
                                                         : QStringLiteral("jpg"));
                         });
        dialog.setDirectory(QFileInfo(proposed).absolutePath());
        dialog.selectFile(QFileInfo(proposed).fileName());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        const QString chosen = dialog.selectedFiles().constFirst();
        // The dialog asked before accepting the name of an existing file.
        return {chosen, QFileInfo::exists(chosen)};
    }

    bool ConfirmPrintSheet(QWidget* parent, const QImage& sheet, int copies) override {
        QDialog dialog(parent);
        dialog.setWindowTitle(QStringLiteral("打印排版预览"));
        auto* layout = new QVBoxLayout(&dialog);
        auto* picture = new QLabel(&dialog);
        picture->setPixmap(QPixmap::fromImage(
            // 600 x 400 for 6 inches; an A4 sheet as high, so it fits any screen.
            sheet.scaled(QSize(600, 600), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        picture->setFrameShape(QFrame::Box);
        layout->addWidget(picture);
        layout->addWidget(new QLabel(QStringLiteral("%1 张, %2, %3 x %4 像素, %5 dpi")
                                         .arg(copies)
                                         .arg(PrintSheet::PaperName(sheet.size()))
                                         .arg(sheet.width())
                                         .arg(sheet.height())
                                         .arg(PrintSheet::kDpi),
                                     &dialog));
        auto* buttons = new QDialogButtonBox(&dialog);
        buttons->addButton(QStringLiteral("保存"), QDialogButtonBox::AcceptRole);
        buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        return dialog.exec() == QDialog::Accepted;
    }

    std::optional<QString> CustomSize(QWidget* parent, const QString& current) override {
        bool ok = false;
        const QString text = QInputDialog::getText(
            parent, QStringLiteral("自定义证件照"),
            QStringLiteral("像素 宽x高@dpi (如 390x567@300), 或毫米 宽x高mm@dpi (如 33x48mm@300):"),
            QLineEdit::Normal, current, &ok);
        return ok ? std::optional<QString>(text) : std::nullopt;
    }

    std::optional<QRgb> BackgroundColour(QWidget* parent, QRgb current) override {
        const QColor colour =
            QColorDialog::getColor(QColor::fromRgb(current), parent, QStringLiteral("背景颜色"));
        return colour.isValid() ? std::optional<QRgb>(colour.rgb()) : std::nullopt;
    }

    void ShowMessage(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
        box.exec();
    }

    void ShowError(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, QString(), text, QMessageBox::Ok, parent);
        box.exec();
    }
};

}  // namespace

std::unique_ptr<TPhotoShopDialogs> NewQtPhotoShopDialogs() {
    return std::make_unique<TQtPhotoShopDialogs>();
}
