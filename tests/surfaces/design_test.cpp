#include "surfaces/design.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace glimmet::PlumoraDesign {
namespace {

struct FontRow {
  FontWeight requested;
  std::string face;
  FontWeight faceWeight;
};

TEST(DesignFont, PicksTheDesignFaceForEachWeightOrTheDefaultSansWhenItIsMissing) {
  const std::vector<FontRow> rows = {
      {FontWeight::semibold, "Noto Sans CJK SC Bold", FontWeight::bold},
      {FontWeight::medium, "Noto Sans CJK SC Medium", FontWeight::medium},
      {FontWeight::regular, "Noto Sans CJK SC Regular", FontWeight::regular},
      {FontWeight::bold, "Noto Sans CJK SC Regular", FontWeight::regular},
  };
  const auto everything = [](const std::string&, const std::string&) { return true; };
  for (const FontRow& row : rows) {
    EXPECT_EQ(fontWith(12.5, row.requested, everything),
              (FontSpec{"Noto Sans CJK SC", 12.5, row.faceWeight, row.face}));
  }
  // Only Regular and Bold installed, as fonts-noto-cjk ships them: the default
  // sans of the same size and weight stands in for each missing face.
  const auto withoutMedium = [](const std::string& family, const std::string& style) {
    return family == "Noto Sans CJK SC" && style != "Medium";
  };
  EXPECT_EQ(fontWith(13, FontWeight::medium, withoutMedium),
            (FontSpec{"Sans", 13, FontWeight::medium, ""}));
  EXPECT_EQ(fontWith(14, FontWeight::semibold, withoutMedium).face, "Noto Sans CJK SC Bold");
}

TEST(DesignFont, FontconfigFindsOnlyFacesThatExist) {
  EXPECT_FALSE(fontconfigHasFace("Glimmet No Such Family", "Regular"));
  EXPECT_FALSE(fontconfigHasFace("DejaVu Sans", "Glimmet No Such Style"));
  if (!fontconfigHasFace("Noto Sans CJK SC", "Regular")) {
    GLIMMET_PEER_MISSING("Noto Sans CJK SC is not installed (fonts-noto-cjk)");
  }
  EXPECT_EQ(font(11).face, "Noto Sans CJK SC Regular");
}

}  // namespace
}  // namespace glimmet::PlumoraDesign
