#pragma once

// The design tokens of every native surface: sizes, corner radii, durations,
// type sizes and fonts, kept in one place so that the creation panel, the
// island, the status icon, the settings window and the radial menu agree.
// Lengths are in points; durations in milliseconds.

#include <chrono>
#include <functional>
#include <string>

namespace glimmet::PlumoraDesign {

enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

// A font as the toolkit layer should ask for it. When the design face is
// installed, `face` names it (for example "Noto Sans CJK SC Bold") and `weight`
// is that face's own weight; otherwise `face` is empty and the font is `family`
// at the requested `weight`.
struct FontSpec {
  std::string family;
  double pointSize = 0;
  FontWeight weight = FontWeight::regular;
  std::string face;

  bool operator==(const FontSpec&) const = default;
};

// The family of the design faces and the fallback for when it is not installed.
inline constexpr const char* kDesignFamily = "Noto Sans CJK SC";
inline constexpr const char* kFallbackFamily = "Sans";

// Answers whether `family` has a face named `style` installed.
using FaceLookup = std::function<bool(const std::string& family, const std::string& style)>;

// Asks fontconfig; no caching.
bool fontconfigHasFace(const std::string& family, const std::string& style);

// The design face for `weight` at `pointSize`: Bold for semibold, Medium for
// medium, Regular for every other weight; when `installed` denies that face,
// the default sans of the same size and weight.
FontSpec fontWith(double pointSize, FontWeight weight, const FaceLookup& installed);

// `fontWith` against the installed fonts, looked up once per face. Thread-safe.
FontSpec font(double pointSize, FontWeight weight = FontWeight::regular);

namespace Layout {
inline constexpr double quickWidth = 365;
inline constexpr double compactWidth = 222;
inline constexpr double compactHeight = 38;
inline constexpr double chromeHeight = 52;
inline constexpr double viewportInset = 12;
inline constexpr double hostWidth = 748;
inline constexpr double hostHeight = 780;
inline constexpr double hostInitialHeight = 740;
inline constexpr double screenInset = 8;
inline constexpr double tileWidth = 148;
inline constexpr double tileHeight = 106;
inline constexpr double tileGap = 10;
inline constexpr double historyMinWidth = 365;
inline constexpr double historyMaxWidth = 660;
inline constexpr double detailWidth = 720;
inline constexpr double resultWidth = 540;
inline constexpr double promptMinHeight = 52;
inline constexpr double promptMaxHeight = 132;
inline constexpr double sendSize = 28;
inline constexpr double selectHeight = 28;
inline constexpr double optionHeight = 26;
inline constexpr double menuWidth = 156;
inline constexpr double previewBreakpoint = 760;
inline constexpr double panelPadding = 18;
inline constexpr double historyPadding = 28;
inline constexpr double menuGap = 6;
inline constexpr double menuInset = 8;
inline constexpr double menuMaxHeight = 220;
inline constexpr double referenceTargetHeight = 100;
inline constexpr double libraryMenuWidth = 180;
inline constexpr double libraryMenuMaxHeight = 260;
inline constexpr double libraryWidth = 660;
inline constexpr double libraryGridMaxHeight = 400;
inline constexpr double libraryThumbHeight = 132;
inline constexpr double mediaGridMaxHeight = 340;
inline constexpr double templateDialogWidth = 660;
inline constexpr double templateDialogImageWidth = 240;
inline constexpr double templateDialogBreakpoint = 540;
}  // namespace Layout

namespace Radius {
inline constexpr double dot = 1;
inline constexpr double indicator = 4;
inline constexpr double tiny = 5;
inline constexpr double tool = 6;
inline constexpr double compact = 7;
inline constexpr double send = 8;
inline constexpr double control = 10;
inline constexpr double tile = 11;
inline constexpr double field = 12;
inline constexpr double group = 16;
inline constexpr double panel = 20;
}  // namespace Radius

namespace Motion {
using std::chrono::milliseconds;
inline constexpr milliseconds press{140};
inline constexpr milliseconds contentHost{150};
inline constexpr milliseconds tools{160};
inline constexpr milliseconds referenceEnter{160};
inline constexpr milliseconds content{180};
inline constexpr milliseconds reference{180};
inline constexpr milliseconds wallpaper{200};
inline constexpr milliseconds selection{220};
inline constexpr milliseconds appear{240};
inline constexpr milliseconds complete{260};
inline constexpr milliseconds shell{420};
inline constexpr milliseconds geometrySync{500};
inline constexpr milliseconds lattice{864};
inline constexpr milliseconds latticeStep{108};
inline constexpr milliseconds pointerPoll{35};
inline constexpr milliseconds logoSpin{1200};
inline constexpr milliseconds statusFrame{50};
}  // namespace Motion

// `default` is a keyword in C++, hence `defaultSize` and `defaultFont`.
namespace TypeSize {
inline constexpr double defaultSize = 13;
inline constexpr double title = 14;
inline constexpr double body = 14;
inline constexpr double action = 13;
inline constexpr double caption = 12;
inline constexpr double label = 12;
inline constexpr double meta = 11;
inline constexpr double fine = 10;
inline constexpr double installer = 22;
inline constexpr double setup = 16;
inline constexpr double status = 13;
}  // namespace TypeSize

// Functions, not constants: which faces are installed is known only at run time.
namespace Text {
inline FontSpec defaultFont() { return font(TypeSize::defaultSize); }
inline FontSpec title() { return font(TypeSize::title, FontWeight::semibold); }
inline FontSpec body() { return font(TypeSize::body); }
inline FontSpec action() { return font(TypeSize::action, FontWeight::medium); }
inline FontSpec caption() { return font(TypeSize::caption); }
inline FontSpec label() { return font(TypeSize::label, FontWeight::medium); }
inline FontSpec meta() { return font(TypeSize::meta); }
inline FontSpec fine() { return font(TypeSize::fine); }
inline FontSpec installer() { return font(TypeSize::installer, FontWeight::semibold); }
inline FontSpec setup() { return font(TypeSize::setup, FontWeight::semibold); }
inline FontSpec status() { return font(TypeSize::status, FontWeight::semibold); }
}  // namespace Text

inline constexpr double iconStroke = 1.65;
inline constexpr double smallIconSize = 14;

}  // namespace glimmet::PlumoraDesign
