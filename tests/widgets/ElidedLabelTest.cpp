// The information panel's label: a text that does not fit is shortened in the middle
// and whole in its tool tip, a long text never widens what holds the label, and the
// text itself stays whole for whoever reads it.
#include "widgets/ElidedLabel.h"

#include <QHBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

TEST(ElidedLabel, ALongTextIsShortenedInTheMiddleAndWholeInItsToolTip) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* label = new TElidedLabel(&window);
    layout->addWidget(label);
    window.resize(300, 30);
    window.show();
    const int before = window.minimumSizeHint().width();

    const QString path = QStringLiteral(
        "照片文件夹 \"/media/usb/一个很长的文件夹名字/另一个很长的文件夹名字/"
        "还有一层/照片\" 无法使用, 本次照片暂存到 \"/home/user/Pictures/Snapix\".");
    label->SetFullText(path);
    EXPECT_EQ(label->text(), path);
    EXPECT_EQ(window.minimumSizeHint().width(), before) << "a long text never widens the window";
    const QString shown = label->ShownText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("照片文件夹")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("Snapix\".")));
    EXPECT_EQ(label->toolTip(), path);

    // Room enough: the whole text, and no tool tip repeating it.
    window.resize(label->fontMetrics().horizontalAdvance(path) + 100, 30);
    EXPECT_EQ(label->ShownText(), path);
    EXPECT_TRUE(label->toolTip().isEmpty());

    // A short text after a long one: no tool tip left over.
    window.resize(300, 30);
    label->SetFullText(QStringLiteral("预览中."));
    EXPECT_EQ(label->ShownText(), QStringLiteral("预览中."));
    EXPECT_TRUE(label->toolTip().isEmpty());
}
