#include "surfaces/design.h"

#include <fontconfig/fontconfig.h>

#include "core/glib_ptr.h"

namespace glimmet::PlumoraDesign {

namespace {

// The design names the PingFang SC faces, which Linux does not have. Noto Sans
// CJK SC (fonts-noto-cjk) is the closest: the same simplified Chinese coverage in
// matching weights. Its Semibold is not packaged, so semibold uses Bold.
struct DesignFace {
  const char* style;
  FontWeight weight;
};

constexpr DesignFace kRegular{"Regular", FontWeight::regular};
constexpr DesignFace kMedium{"Medium", FontWeight::medium};
constexpr DesignFace kBold{"Bold", FontWeight::bold};

DesignFace designFaceFor(FontWeight weight) {
  switch (weight) {
    case FontWeight::semibold:
      return kBold;
    case FontWeight::medium:
      return kMedium;
    default:
      return kRegular;
  }
}

}  // namespace

bool fontconfigHasFace(const std::string& family, const std::string& style) {
  // Listing, not matching: a match always finds some font, substituting another
  // family, while a list only holds fonts that really have this family and style.
  GPtr<FcPattern, FcPatternDestroy> pattern(FcPatternCreate());
  GPtr<FcObjectSet, FcObjectSetDestroy> objects(
      FcObjectSetBuild(FC_FAMILY, FC_STYLE, static_cast<char*>(nullptr)));
  if (!pattern || !objects) return false;
  const auto* familyText = reinterpret_cast<const FcChar8*>(family.c_str());
  const auto* styleText = reinterpret_cast<const FcChar8*>(style.c_str());
  if (!FcPatternAddString(pattern.get(), FC_FAMILY, familyText) ||
      !FcPatternAddString(pattern.get(), FC_STYLE, styleText)) {
    return false;
  }
  GPtr<FcFontSet, FcFontSetDestroy> fonts(FcFontList(nullptr, pattern.get(), objects.get()));
  return fonts && fonts->nfont > 0;
}

FontSpec fontWith(double pointSize, FontWeight weight, const FaceLookup& installed) {
  const DesignFace face = designFaceFor(weight);
  if (installed(kDesignFamily, face.style)) {
    return {kDesignFamily, pointSize, face.weight, std::string(kDesignFamily) + " " + face.style};
  }
  return {kFallbackFamily, pointSize, weight, ""};
}

FontSpec font(double pointSize, FontWeight weight) {
  // Fonts installed while the program runs are picked up at the next start.
  struct InstalledFaces {
    bool regular = fontconfigHasFace(kDesignFamily, kRegular.style);
    bool medium = fontconfigHasFace(kDesignFamily, kMedium.style);
    bool bold = fontconfigHasFace(kDesignFamily, kBold.style);
  };
  static const InstalledFaces faces;
  return fontWith(pointSize, weight, [](const std::string&, const std::string& style) {
    if (style == kMedium.style) return faces.medium;
    if (style == kBold.style) return faces.bold;
    return faces.regular;
  });
}

}  // namespace glimmet::PlumoraDesign
