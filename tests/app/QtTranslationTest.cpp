// Qt's own dialog texts follow the window's language.
#include <memory>

#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include "app/AppInfo.h"

TEST(QtTranslation, StandardDialogButtonsSpeakChinese) {
    std::unique_ptr<QTranslator> translator(AppInfo::InstallQtTranslation());
    ASSERT_NE(translator, nullptr) << "Qt's translations (qt6-translations-l10n) are missing";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}
