#include "res/strings.h"

#include <gtest/gtest.h>
#include <string>

namespace tbx {
namespace {

TEST(StringsTest, MessagesKeepTheirExactText) {
    // The line break is part of the message: the log pane shows two lines.
    EXPECT_EQ(LoadString(106),
              "При попытке открыть файл произошла ошибка или пользователь \nотменил операцию.");
    EXPECT_EQ(LoadString(121), "Приложение уже запущено ...");
    EXPECT_EQ(LoadString(130), "Нет файлов для индексации. Нажмите на кнопку 'Обзор ...' и укажите "
                               "каталог с HTM файлами, которые нужно проиндексировать.");
    EXPECT_STREQ(kCaption, "Tomebox!");
}

TEST(StringsTest, TableHoldsEveryMessageButTheUnusedOne) {
    for (int id = 101; id <= 132; ++id) {
        if (id != 122) {
            EXPECT_FALSE(LoadString(id).empty()) << "string " << id;
        }
    }
}

TEST(StringsTest, MissingIdYieldsTheEmptyText) {
    for (int id : {0, -1, 100, 122, 133, 200})
        EXPECT_EQ(LoadString(id), "") << "string " << id;
}

} // namespace
} // namespace tbx
