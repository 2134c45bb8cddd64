#include "host/windows/GoodsSelectU.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

// Walks the articles Goods presents: whole, or for each category in turn.
template <class Visit>
void WalkGoods(TDataSet& keyTovar, TDataSet& goods, bool perCategory, Visit&& visit) {
  if (!perCategory) {
    for (goods.First(); !goods.Eof(); goods.Next()) visit();
    return;
  }
  for (keyTovar.First(); !keyTovar.Eof(); keyTovar.Next())
    for (goods.First(); !goods.Eof(); goods.Next()) visit();
}

void SetMark(TDataSet& ds, TField& field, bool checked) {
  const std::int32_t mark = checked ? 1 : 0;
  if (!field.IsNull() && field.AsFloat() == mark) return;
  ds.Edit();
  field.SetAsInteger(mark);
  ds.Post();
}

}  // namespace

void TGoodsChoice::Load(TDataSet& keyTovar, TDataSet& goods, bool perCategory) {
  categories_.clear();
  articles_.clear();
  TField& categoryID = keyTovar.FieldByName("ID_Category");
  TField& categoryName = keyTovar.FieldByName("Name");
  TField& checkField = keyTovar.FieldByName("CheckField");
  for (keyTovar.First(); !keyTovar.Eof(); keyTovar.Next()) {
    if (categoryID.IsNull()) continue;
    categories_.push_back({categoryID.AsInteger(), categoryName.AsString(), checkField.AsInteger() == 1});
  }
  TField& goodsID = goods.FieldByName("ID_Goods");
  TField& goodsCategory = goods.FieldByName("ID_Category");
  TField& goodsName = goods.FieldByName("Name");
  TField& price = goods.FieldByName("Price");
  TField& kolvo = goods.FieldByName("Kolvo");
  std::unordered_set<std::int32_t> seen;
  WalkGoods(keyTovar, goods, perCategory, [&] {
    if (goodsID.IsNull() || !seen.insert(goodsID.AsInteger()).second) return;
    TGoodsArticle a;
    a.id = goodsID.AsInteger();
    a.category = goodsCategory.AsInteger();
    a.name = goodsName.AsString();
    a.price = price.AsFloat();
    a.checked = kolvo.AsFloat() > 0;
    a.code = std::to_string(a.id);
    a.lowerName = LowerCase(a.name);
    articles_.push_back(std::move(a));
  });
  checkedCategories_ = checkedArticles_ = 0;
  for (const TGoodsCategory& c : categories_) checkedCategories_ += c.checked;
  for (const TGoodsArticle& a : articles_) checkedArticles_ += a.checked;
}

void TGoodsChoice::Store(TDataSet& keyTovar, TDataSet& goods, bool perCategory) const {
  std::unordered_map<std::int32_t, bool> categories, articles;
  for (const TGoodsCategory& c : categories_) categories[c.id] = c.checked;
  for (const TGoodsArticle& a : articles_) articles[a.id] = a.checked;
  TField& categoryID = keyTovar.FieldByName("ID_Category");
  TField& checkField = keyTovar.FieldByName("CheckField");
  for (keyTovar.First(); !keyTovar.Eof(); keyTovar.Next()) {
    if (categoryID.IsNull()) continue;
    auto it = categories.find(categoryID.AsInteger());
    if (it != categories.end()) SetMark(keyTovar, checkField, it->second);
  }
  TField& goodsID = goods.FieldByName("ID_Goods");
  TField& kolvo = goods.FieldByName("Kolvo");
  WalkGoods(keyTovar, goods, perCategory, [&] {
    if (goodsID.IsNull()) return;
    auto it = articles.find(goodsID.AsInteger());
    if (it != articles.end()) SetMark(goods, kolvo, it->second);
  });
}

void TGoodsChoice::SetCategoryChecked(std::size_t index, bool checked) {
  TGoodsCategory& c = categories_.at(index);
  if (c.checked == checked) return;
  c.checked = checked;
  checkedCategories_ += checked ? 1 : -1;
}

void TGoodsChoice::SetArticleChecked(std::size_t index, bool checked) {
  TGoodsArticle& a = articles_.at(index);
  if (a.checked == checked) return;
  a.checked = checked;
  checkedArticles_ += checked ? 1 : -1;
}

std::vector<std::size_t> TGoodsChoice::Visible(const std::int32_t* category, const std::string& filter) const {
  const std::string text = LowerCase(Trim(filter));
  std::vector<std::size_t> visible;
  for (std::size_t i = 0; i < articles_.size(); ++i) {
    const TGoodsArticle& a = articles_[i];
    if (category && a.category != *category) continue;
    if (!text.empty() && a.lowerName.find(text) == std::string::npos && a.code.compare(0, text.size(), text) != 0)
      continue;
    visible.push_back(i);
  }
  return visible;
}

std::string TGoodsChoice::CountsText() const {
  return "Выбрано категорий: " + std::to_string(checkedCategories_) + ", товаров: " + std::to_string(checkedArticles_);
}

}  // namespace selvo::host
