// Process entry. "--self-test" runs the contract checks and exits with their
// verdict. The desktop shell is not wired yet; until it is, the program
// otherwise demonstrates what exists: it passes an image through the image
// gate (a file named on the command line, or a small built-in picture) and
// reports what the gate made of it, in the words a user would see.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "agents/image_gate.h"
#include "agents/local_agent_manager.h"
#include "app/self_test.h"
#include "app/switches.h"
#include "core/defaults_store.h"
#include "core/failure.h"
#include "core/files.h"
#include "platform/headless/headless_desktop_appearance.h"
#include "surfaces/design.h"

namespace {

// A 2 by 2 PNG with four coloured pixels.
constexpr const char* kSampleDataURL =
    "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFElEQVR4nGP4z8DAAMIM////"
    "ZwAAHu8E/KPItPcAAAAASUVORK5CYII=";

glimmet::LocalAgentManager::DecodedImage gate(int argc, char** argv) {
  using glimmet::LocalAgentManager;
  if (argc < 2) return LocalAgentManager::decodeImage(kSampleDataURL);
  const std::string bytes = glimmet::readFileBounded(argv[1], glimmet::image_gate::kMaxEncodedBytes,
                                                     "生成结果无法解码，或图片超过 4000 万像素。");
  return LocalAgentManager::decodeBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (glimmet::Switches::parse(argc, argv).selfTest) {
    // The appearance checks run against an in-memory desktop until the shell
    // hands over the real one.
    glimmet::HeadlessDesktopAppearance appearance;
    return glimmet::runSelfTest(appearance, std::cout, std::cerr);
  }
  std::printf("Glimmet %s\n", GLIMMET_VERSION);
  std::printf("桌面界面尚未接入；以下演示图片检查。\n");
  std::printf("设置文件：%s\n", glimmet::DefaultsStore::standardLocation().c_str());
  const auto font = glimmet::PlumoraDesign::Text::body();
  std::printf("界面字体：%s %.0f pt\n", font.family.c_str(), font.pointSize);
  try {
    const auto image = gate(argc, argv);
    std::printf("图片已通过检查：%d × %d 像素，PNG %zu 字节。\n", image.width, image.height,
                image.data.size());
    if (argc >= 3) {
      glimmet::writeFileAtomically(argv[2], std::string(image.data.begin(), image.data.end()),
                                   0644);
      std::printf("已写入 %s\n", argv[2]);
    }
    return 0;
  } catch (const glimmet::LocalAgentFailure& failure) {
    std::fprintf(stderr, "%s\n", failure.message().c_str());
    return 1;
  }
}
