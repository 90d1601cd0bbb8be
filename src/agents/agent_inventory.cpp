// Discovery and probing of the agent command lines, and the verified-runtime
// records kept in the user defaults.

#include "agents/agent_inventory.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <set>
#include <system_error>

#include "agents/local_command.h"
#include "core/defaults_store.h"
#include "core/files.h"
#include "core/text.h"
#include "core/wire_names.h"

namespace glimmet {

namespace {

constexpr double kProbeTimeout = 8;
constexpr std::size_t kVersionLength = 160;
constexpr std::size_t kMaxVerifiedRecords = 50;

constexpr char kRecordsKey[] = "local.codex.verifiedRuntimes";
constexpr char kImageVerifiedKey[] = "local.codex.imageVerified";
constexpr char kVerifiedPathKey[] = "local.codex.verifiedPath";
constexpr char kVerifiedVersionKey[] = "local.codex.verifiedVersion";

constexpr char kMissingHostReason[] =
    "本机 Codex 缺少 codex-code-mode-host 运行组件，请在原生设置中修复安装。";
constexpr char kNotice[] =
    "本机生成使用你自己的 Agent 账号及其额度，不扣 Glimmet 积分。Gemini / ZCode "
    "的登录状态尚未验证。";

using Record = std::map<std::string, std::string>;

LocalCommandResult probe(const std::string& path, const std::vector<std::string>& arguments) {
  return runAndWait(path, arguments, kProbeTimeout,
                    LocalCommandResult{-1, "探测未完成", false, true});
}

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find_first_of(separators, start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > start) pieces.push_back(text.substr(start, stop - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return pieces;
}

std::string versionText(const LocalCommandResult& result) {
  return text::graphemePrefix(text::trimmed(result.output), kVersionLength);
}

std::string iso8601Now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

}  // namespace

// --- paths ----------------------------------------------------------------------

LocalAgentPaths LocalAgentPaths::standard(std::filesystem::path resourceDirectory) {
  LocalAgentPaths paths;
  paths.dataHome = userDataHome();
  paths.home = homeDirectory();
  paths.resourceDirectory = std::move(resourceDirectory);
  const char* inherited = g_getenv("PATH");
  paths.inheritedPath = inherited ? inherited : "";
  const char* codexHome = g_getenv("CODEX_HOME");
  paths.codexHome = codexHome ? std::filesystem::path(codexHome) : paths.home / ".codex";
  return paths;
}

std::filesystem::path LocalAgentPaths::agentsDirectory() const {
  return dataHome / wire::kDataFolder / "agents";
}
std::filesystem::path LocalAgentPaths::managedDirectory() const {
  return agentsDirectory() / "codex";
}
std::filesystem::path LocalAgentPaths::managedCodex() const { return managedDirectory() / "codex"; }
std::filesystem::path LocalAgentPaths::managedCodeModeHost() const {
  return managedDirectory() / "codex-code-mode-host";
}
std::filesystem::path LocalAgentPaths::tasksDirectory() const {
  return dataHome / wire::kDataFolder / "LocalAgentTasks";
}

// --- inventory ----------------------------------------------------------------------

AgentInventory::AgentInventory(DefaultsStore& defaults, const LocalAgentPaths& paths)
    : defaults_(defaults), paths_(paths) {}

std::vector<std::string> AgentInventory::candidates(const std::string& name) const {
  std::vector<std::string> directories = {paths_.managedDirectory(), paths_.agentsDirectory()};
  if (!paths_.resourceDirectory.empty()) {
    directories.push_back(paths_.resourceDirectory / "agents");
  }
  directories.push_back(paths_.sharedToolDirectory);
  directories.push_back(paths_.home / ".local/bin");
  directories.push_back(paths_.home / ".npm-global/bin");
  for (const auto entry : split(paths_.inheritedPath, ":")) {
    if (entry.starts_with('/')) directories.emplace_back(entry);
  }
  // Node versions by plain text comparison, descending, as the listing gives no
  // better order without parsing version numbers.
  std::error_code error;
  std::vector<std::string> nodes;
  const auto nvm = paths_.home / ".nvm/versions/node";
  for (std::filesystem::directory_iterator it(nvm, error), end; !error && it != end;
       it.increment(error)) {
    nodes.push_back(it->path().filename().string());
  }
  std::sort(nodes.begin(), nodes.end(), std::greater<>());
  for (const auto& node : nodes) directories.push_back((nvm / node / "bin").string());

  std::vector<std::string> found;
  std::set<std::string> seen;
  for (const auto& directory : directories) {
    if (directory.empty()) continue;
    std::string path = directory;
    path.append("/").append(name);
    if (!seen.insert(path).second) continue;
    if (isExecutableFile(path)) found.push_back(std::move(path));
  }
  return found;
}

void AgentInventory::inventory(std::function<void(Json)> completion) {
  probeQueue_.post([this, completion = std::move(completion)]() mutable {
    auto agents = probeAll();
    Json reply = inventoryReply(agents);
    {
      std::lock_guard lock(lock_);
      cached_ = std::move(agents);
    }
    MainQueue::shared().post(
        [completion = std::move(completion), reply = std::move(reply)] { completion(reply); });
  });
}

std::optional<LocalAgentInfo> AgentInventory::cachedCodex() const {
  std::lock_guard lock(lock_);
  for (const auto& agent : cached_) {
    if (agent.id == "codex") return agent;
  }
  return std::nullopt;
}

std::vector<LocalAgentInfo> AgentInventory::probeAll() {
  std::vector<LocalAgentInfo> agents;
  for (const char* id : kAgentIds) agents.push_back(probeAgent(id));
  return agents;
}

LocalAgentInfo AgentInventory::probeAgent(const std::string& id) {
  LocalAgentInfo info;
  info.id = id;
  const auto found = candidates(id);
  if (found.empty()) return info;

  std::map<std::string, LocalCommandResult> versions;
  const auto versionOf = [&](const std::string& path) -> const LocalCommandResult& {
    auto it = versions.find(path);
    if (it == versions.end()) it = versions.emplace(path, probe(path, {"--version"})).first;
    return it->second;
  };
  const std::string managed = paths_.managedCodex();
  const auto managedLacksHost = [&](const std::string& path, const std::string& version) {
    return path == managed && needsCodeModeHost(version) &&
           !isExecutableFile(paths_.managedCodeModeHost());
  };

  std::string chosen = found.front();
  if (id == "codex") {
    bool useManaged = false;
    {
      std::lock_guard lock(lock_);
      useManaged = managedVerification_;
    }
    if (useManaged) {
      if (std::find(found.begin(), found.end(), managed) != found.end()) chosen = managed;
    } else {
      const auto records = verifiedRecords();
      for (auto record = records.rbegin(); record != records.rend(); ++record) {
        const auto path = record->find("path");
        const auto version = record->find("version");
        if (path == record->end() || version == record->end()) continue;
        if (std::find(found.begin(), found.end(), path->second) == found.end()) continue;
        const auto& probed = versionOf(path->second);
        if (probed.status != 0 || versionText(probed) != version->second) continue;
        if (managedLacksHost(path->second, version->second)) continue;
        chosen = path->second;
        break;
      }
    }
  }

  info.path = chosen;
  const auto& version = versionOf(chosen);
  info.version = version.status == 0 ? versionText(version) : "版本未知";

  if (id == "codex") {
    if (managedLacksHost(chosen, info.version)) {
      info.runtimeReady = false;
      info.runtimeReason = kMissingHostReason;
    }
    const auto login = probe(chosen, {"login", "status"});
    const std::string loginText = lowercased(login.output);
    info.login = login.status == 0 && loginText.find("logged in") != std::string::npos &&
                         loginText.find("not logged in") == std::string::npos
                     ? "authenticated"
                     : "unauthenticated";
    const auto features = probe(chosen, {"features", "list"});
    info.imageSupported = features.status == 0 && imageFeatureSupported(features.output);
    const auto help = probe(chosen, {"exec", "--help"});
    info.referenceSupported = help.status == 0 && help.output.find("--image") != std::string::npos;
  } else if (id == "claude") {
    const auto auth = probe(chosen, {"auth", "status", "--json"});
    if (auth.status == 0) {
      const Json parsed = parseJson(auth.output);
      if (parsed.is_object() && parsed.contains("loggedIn") && parsed["loggedIn"].is_boolean()) {
        info.login = parsed["loggedIn"].get<bool>() ? "authenticated" : "unauthenticated";
      }
    }
  }
  return info;
}

Json AgentInventory::inventoryReply(const std::vector<LocalAgentInfo>& agents) const {
  Json list = Json::array();
  std::string selected;
  for (const auto& agent : agents) {
    const bool verified = agent.id == "codex" && isVerified(agent.path, agent.version);
    list.push_back(agent.dictionary(verified));
    if (agent.id == "codex" && !agent.path.empty()) selected = "codex";
  }
  return Json{{"agents", std::move(list)},
              {"billing", "local-agent"},
              {"plumoraCredits", 0},
              {"selected", selected},
              {"notice", kNotice}};
}

bool AgentInventory::selectManagedForVerification() {
  if (!isExecutableFile(paths_.managedCodex()) || !isExecutableFile(paths_.managedCodeModeHost())) {
    return false;
  }
  std::lock_guard lock(lock_);
  managedVerification_ = true;
  return true;
}

void AgentInventory::endManagedVerification() {
  std::lock_guard lock(lock_);
  managedVerification_ = false;
}

std::string AgentInventory::agentName(const std::string& id) {
  if (id == "codex") return "Codex";
  if (id == "claude") return "Claude Code";
  if (id == "gemini") return "Gemini CLI";
  if (id == "zcode") return "ZCode";
  return id;
}

Json LocalAgentInfo::dictionary(bool verified) const {
  const bool authenticated = login == "authenticated";
  const bool imageGeneration = id == "codex" && imageSupported && authenticated && runtimeReady;
  const bool installed = !path.empty();
  std::string reason;
  if (!installed) {
    reason = "未安装，可在原生设置中安装或查看指引";
  } else if (runtimeReason) {
    reason = *runtimeReason;
  } else if (!imageGeneration && id != "codex") {
    reason = "已检测到 CLI，原生生图能力尚未验证";
  } else if (!imageGeneration) {
    reason = "需要已登录且支持稳定 image_generation 的 Codex";
  } else if (!verified) {
    reason = "支持本机生图，等待首次结果验证";
  } else {
    reason = "已验证本机生成图片";
  }
  const bool withReference = imageGeneration && referenceSupported;
  return Json{
      {"id", id},
      {"name", AgentInventory::agentName(id)},
      {"installed", installed},
      {"path", path},
      {"version", version},
      {"authenticated", authenticated},
      {"authState", authenticated                ? "ready"
                    : login == "unauthenticated" ? "required"
                                                 : "unknown"},
      {"imageGeneration", imageGeneration},
      {"verified", verified},
      {"runtimeReady", runtimeReady},
      {"operations",
       {{"textToImage", imageGeneration},
        {"imageToImage", withReference},
        {"text", imageGeneration},
        {"reference", withReference},
        {"edit", false},
        {"mask", false},
        {"video", false}}},
      {"reason", reason},
  };
}

// --- parsers ------------------------------------------------------------------------

bool AgentInventory::imageFeatureSupported(std::string_view featureList) {
  for (const auto line : split(featureList, "\n")) {
    const auto words = split(line, " \t\r\v\f");
    if (words.size() >= 3 && words[0] == "image_generation" && words[1] == "stable") return true;
  }
  return false;
}

bool AgentInventory::needsCodeModeHost(std::string_view version) {
  std::size_t i = 0;
  while (i < version.size()) {
    const auto isRunCharacter = [](char c) { return (c >= '0' && c <= '9') || c == '.'; };
    if (!isRunCharacter(version[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < version.size() && isRunCharacter(version[end])) ++end;
    std::vector<std::uint64_t> numbers;
    for (const auto part : split(version.substr(i, end - i), ".")) {
      std::uint64_t number = 0;
      const auto [last, error] = std::from_chars(part.data(), part.data() + part.size(), number);
      if (error == std::errc() && last == part.data() + part.size()) numbers.push_back(number);
    }
    if (numbers.size() == 3) return numbers[0] > 0 || numbers[1] > 159;
    i = end;
  }
  return false;
}

// --- verified runtimes ------------------------------------------------------------------

std::vector<Record> AgentInventory::verifiedRecords() const {
  // Anything but a list of text-to-text dictionaries counts as no records.
  const auto storedRecords = [this]() -> std::vector<Record> {
    const auto stored = defaults_.array(kRecordsKey);
    if (!stored) return {};
    std::vector<Record> records;
    for (const auto& item : *stored) {
      if (!item.is_object()) return {};
      Record record;
      for (const auto& [key, value] : item.items()) {
        if (!value.is_string()) return {};
        record[key] = value.get<std::string>();
      }
      records.push_back(std::move(record));
    }
    return records;
  };
  auto records = storedRecords();
  const auto path = defaults_.string(kVerifiedPathKey);
  const auto version = defaults_.string(kVerifiedVersionKey);
  if (defaults_.boolean(kImageVerifiedKey).value_or(false) && path && version) {
    const bool present = std::any_of(records.begin(), records.end(), [&](const Record& record) {
      const auto p = record.find("path");
      const auto v = record.find("version");
      return p != record.end() && v != record.end() && p->second == *path && v->second == *version;
    });
    if (!present) records.push_back({{"path", *path}, {"version", *version}});
  }
  return records;
}

bool AgentInventory::isVerified(const std::string& path, const std::string& version) const {
  if (path.empty() || version.empty()) return false;
  const auto records = verifiedRecords();
  return std::any_of(records.begin(), records.end(), [&](const Record& record) {
    const auto p = record.find("path");
    const auto v = record.find("version");
    return p != record.end() && v != record.end() && p->second == path && v->second == version;
  });
}

void AgentInventory::recordProof(const std::string& path, const std::string& version) {
  auto records = verifiedRecords();
  std::erase_if(records, [&](const Record& record) {
    const auto p = record.find("path");
    const auto v = record.find("version");
    return p != record.end() && v != record.end() && p->second == path && v->second == version;
  });
  records.push_back({{"path", path}, {"version", version}, {"verifiedAt", iso8601Now()}});
  if (records.size() > kMaxVerifiedRecords) {
    records.erase(records.begin(), records.end() - kMaxVerifiedRecords);
  }
  Json list = Json::array();
  for (const auto& record : records) list.push_back(record);
  defaults_.set(kRecordsKey, std::move(list));
  defaults_.set(kImageVerifiedKey, true);
  defaults_.set(kVerifiedPathKey, path);
  defaults_.set(kVerifiedVersionKey, version);
}

}  // namespace glimmet
