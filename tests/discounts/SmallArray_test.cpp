// The card's short sequences kept inside the card, and its packed target
// lists: values must survive every move between the object and the heap.
#include "discounts/SmallArray.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "discounts/SelvoDiscountItemsU.h"

namespace selvo {
namespace {

using TArray = TSmallArray<double, 2>;

std::vector<double> Values(const TArray& a) { return std::vector<double>(a.begin(), a.end()); }

std::vector<double> Counting(int count) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i) v.push_back(i + 0.5);
  return v;
}

TArray Filled(int count) {
  TArray a;
  for (double v : Counting(count)) a.push_back(v);
  return a;
}

// Every size around the point where the values leave the object, through
// copies, moves and assignments in both directions.
TEST(SmallArray, ValuesSurviveCopiesAndMovesOnBothSidesOfTheInlineRoom) {
  for (int count : {0, 1, 2, 3, 4, 9}) {
    SCOPED_TRACE(count);
    const std::vector<double> want = Counting(count);
    TArray a = Filled(count);
    EXPECT_EQ(Values(a), want);

    TArray copy(a);
    EXPECT_EQ(Values(copy), want);
    copy.push_back(99);  // the copy owns its values
    EXPECT_EQ(Values(a), want);

    TArray moved(std::move(copy));
    EXPECT_EQ(moved.size(), want.size() + 1);
    EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): a moved-from array is empty and usable
    copy.push_back(7);
    EXPECT_EQ(Values(copy), std::vector<double>{7});

    for (int other : {0, 1, 3, 12}) {  // assignment over every kind of content
      TArray target = Filled(other);
      target = a;
      EXPECT_EQ(Values(target), want) << "copy over " << other;
      TArray source = Filled(count);
      target = Filled(other);
      target = std::move(source);
      EXPECT_EQ(Values(target), want) << "move over " << other;
    }
    TArray& self = a;
    a = self;
    EXPECT_EQ(Values(a), want) << "self-assignment";
    EXPECT_TRUE(a == Filled(count));
    EXPECT_FALSE(a == Filled(count + 1));
  }
}

// push_back of one of the array's own values when it must grow, insert and
// erase across the boundary, shrink_to_fit back into the object.
TEST(SmallArray, EditsKeepOrderAcrossTheBoundary) {
  struct Case {
    const char* name;
    int start;
    void (*edit)(TArray&);
    std::vector<double> want;
  };
  const Case cases[] = {
      {"own value pushed while full", 2, [](TArray& a) { a.push_back(a[0]); }, {0.5, 1.5, 0.5}},
      {"own value pushed on the heap", 4, [](TArray& a) { a.push_back(a[3]); }, {0.5, 1.5, 2.5, 3.5, 3.5}},
      {"insert at the front while full", 2, [](TArray& a) { a.insert(a.begin(), 9); }, {9, 0.5, 1.5}},
      {"insert in the middle", 3, [](TArray& a) { a.insert(a.begin() + 1, 9); }, {0.5, 9, 1.5, 2.5}},
      {"insert at the end", 1, [](TArray& a) { a.insert(a.end(), 9); }, {0.5, 9}},
      {"erase the middle", 4, [](TArray& a) { a.erase(a.begin() + 1, a.begin() + 3); }, {0.5, 3.5}},
      {"erase the last", 3, [](TArray& a) { a.erase(a.end() - 1); }, {0.5, 1.5}},
      {"shrink after erase",
       5,
       [](TArray& a) {
         a.erase(a.begin() + 2, a.end());
         a.shrink_to_fit();
       },
       {0.5, 1.5}},
      {"resize up fills", 1, [](TArray& a) { a.resize(4, 7); }, {0.5, 7, 7, 7}},
      {"resize down keeps the front", 5, [](TArray& a) { a.resize(1); }, {0.5}},
      {"clear then refill",
       6,
       [](TArray& a) {
         a.clear();
         a.push_back(3);
       },
       {3}},
      {"list assignment",
       5,
       [](TArray& a) {
         a = {1, 2};
       },
       {1, 2}},
  };
  for (const Case& c : cases) {
    TArray a = Filled(c.start);
    c.edit(a);
    EXPECT_EQ(Values(a), c.want) << c.name;
    EXPECT_GE(a.capacity(), a.size()) << c.name;
  }
  TArray shrunk = Filled(5);
  shrunk.resize(2);
  shrunk.shrink_to_fit();
  EXPECT_EQ(shrunk.capacity(), 2u) << "two values fit inside the object again";
}

// Texts are packed with their length in front, seven bits a byte: lengths
// on both sides of one and two bytes must read back, short (compared one by
// one) and long (hashed) lists alike, and a copy must not share the hash.
TEST(HashedTextList, PackedTextsOfEveryLengthReadBack) {
  const std::vector<std::string> texts = {"",
                                          "7",
                                          std::string(127, 'a'),
                                          std::string(128, 'b'),
                                          std::string(300, 'c'),
                                          "Ёлка",
                                          std::string(16383, 'd'),
                                          std::string(16384, 'e')};
  for (std::size_t count : {texts.size(), std::size_t{3}}) {
    THashedTextList list;
    for (std::size_t i = 0; i < count; ++i) list.Add(texts[i]);
    std::vector<std::string> some(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(count));
    ASSERT_EQ(list.Count(), count);
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()), some);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(list[i], texts[i]) << i;
      EXPECT_TRUE(list.Contains(texts[i])) << i;
    }
    EXPECT_EQ(list[count], "");
  }

  THashedTextList longList;
  for (int i = 0; i < 20; ++i) longList.Add(std::to_string(i));
  THashedTextList copy = longList;
  copy.Add("Ёлка");
  EXPECT_TRUE(copy.Contains("ЁЛКА"));
  EXPECT_FALSE(longList.Contains("ЁЛКА")) << "the copy's hash is its own";
  EXPECT_EQ(longList.Count(), 20u);
  THashedTextList moved = std::move(copy);
  EXPECT_TRUE(moved.Contains("19"));
  copy = longList;  // a moved-from list takes a new content
  EXPECT_TRUE(copy.Contains("0"));
}

}  // namespace
}  // namespace selvo
