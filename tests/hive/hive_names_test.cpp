// Names of keys and values: compared without case (other letters too), and
// found in long lists through their index while the list is edited.
#include <gtest/gtest.h>

#include <random>

#include "hive/hive.h"

using brisko::hive::NameList;
using brisko::hive::sameRegistryName;

TEST(HiveNames, CompareWithoutCaseOnlyForLetters) {
    EXPECT_TRUE(sameRegistryName("Software", "SOFTWARE"));
    EXPECT_TRUE(sameRegistryName("", ""));
    EXPECT_FALSE(sameRegistryName("Software", "Softwar"));
    // Bytes one case bit apart that are not letters differ.
    EXPECT_FALSE(sameRegistryName("a@", "a`"));
    EXPECT_FALSE(sameRegistryName("[", "{"));
    EXPECT_FALSE(sameRegistryName("1", "\x11"));
    EXPECT_TRUE(sameRegistryName("Gr\xc3\xbc\xc3\x9f", "GR\xc3\x9c\xc3\x9f"));  // Grüß, GRÜß
    EXPECT_TRUE(sameRegistryName("\xc3\xa4x", "\xc3\x84X"));                    // äx, ÄX
    EXPECT_FALSE(sameRegistryName("\xc3\xa4", "a"));
}

TEST(HiveNames, LongListsFindEveryNameWhileEdited) {
    std::mt19937 random(7);
    NameList list;
    std::vector<std::string> reference;
    auto nameOf = [](int i) {
        std::string n = "Key" + std::to_string(i);
        if (i % 7 == 0) n += "\xc3\xa9";  // é
        return n;
    };
    for (int i = 0; i < 300; ++i) {
        list.append(nameOf(i), size_t(i));
        reference.push_back(nameOf(i));
    }
    // A name twice (a damaged hive): the first is found.
    list.append("key5", 999);
    reference.push_back("key5");
    auto check = [&] {
        for (size_t i = 0; i < reference.size(); ++i) {
            std::string upper = reference[i];
            for (auto& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
            auto at = list.find(upper);
            ASSERT_TRUE(at) << reference[i];
            size_t first = 0;
            while (!sameRegistryName(reference[first], reference[i])) ++first;
            EXPECT_EQ(*at, first) << reference[i];
        }
        EXPECT_FALSE(list.find("Key1000"));
        EXPECT_FALSE(list.find("Key7"));  // Key7 is Key7é
    };
    check();
    while (reference.size() > 40) {
        size_t i = random() % reference.size();
        list.erase(i);
        reference.erase(reference.begin() + ptrdiff_t(i));
        if (reference.size() % 37 == 0) check();
    }
    check();
    for (int i = 300; i < 400; ++i) {
        list.append(nameOf(i), size_t(i));
        reference.push_back(nameOf(i));
    }
    check();
}
