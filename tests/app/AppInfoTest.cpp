// The program's identity texts.
#include "app/AppInfo.h"

#include <gtest/gtest.h>

TEST(AppInfo, VersionIsTheProjectVersion) {
    EXPECT_EQ(AppInfo::Version(), QStringLiteral(SNAPIX_VERSION));
    EXPECT_FALSE(AppInfo::Title().isEmpty());
}
