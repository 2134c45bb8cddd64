// What the host's goods selection window (host/windows/GoodsSelectFrm.h) shows and
// stores, without any widget: the shop's categories ("KeyTovar") and articles
// ("Goods") with their marks, the filter that narrows the articles, the
// counts, and the writing of the marks back. A category chosen whole is
// marked by KeyTovar.CheckField = 1, a single article by Goods.Kolvo = 1;
// the discount module marks its card's choice there before it opens the
// window and reads the operator's choice back afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "selvo/SelvoDataSets.h"

namespace selvo::host {

struct TGoodsCategory {
  std::int32_t id = 0;
  std::string name;
  bool checked = false;
};

struct TGoodsArticle {
  std::int32_t id = 0;
  std::int32_t category = 0;
  std::string name;
  double price = 0;
  bool checked = false;
  std::string code;       // the identifier as text
  std::string lowerName;  // for the filter
};

class TGoodsChoice {
 public:
  // Reads the categories and articles with their marks. With perCategory the
  // articles are read category by category (Goods presents only those of the
  // category KeyTovar stands on); else Goods is read once, whole. Rows
  // without an identifier are left out, and an article met twice counts once.
  void Load(TDataSet& keyTovar, TDataSet& goods, bool perCategory);
  // Writes the marks back (1 or 0), posting only the rows whose mark changes.
  void Store(TDataSet& keyTovar, TDataSet& goods, bool perCategory) const;

  const std::vector<TGoodsCategory>& Categories() const { return categories_; }
  const std::vector<TGoodsArticle>& Articles() const { return articles_; }
  void SetCategoryChecked(std::size_t index, bool checked);
  void SetArticleChecked(std::size_t index, bool checked);
  int CheckedCategories() const { return checkedCategories_; }
  int CheckedArticles() const { return checkedArticles_; }

  // The positions of the articles of a category (an identifier; none: every
  // category) whose name holds the filter text (letter case aside) or whose
  // code begins with it, in the order read. Blanks around the filter are
  // ignored; an empty filter lets every article through.
  std::vector<std::size_t> Visible(const std::int32_t* category, const std::string& filter) const;

  // "Выбрано категорий: N, товаров: M".
  std::string CountsText() const;

 private:
  std::vector<TGoodsCategory> categories_;
  std::vector<TGoodsArticle> articles_;
  int checkedCategories_ = 0;
  int checkedArticles_ = 0;
};

}  // namespace selvo::host
