#include "rules_editor/terminal/testing/editor_terminal.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/testing/child_process.h"

namespace pelorin::rules_editor::testing {

using namespace std::chrono_literals;
using platform::testing::runProgram;

EditorTerminal::EditorTerminal(const std::string& rootFolder, const std::string& busAddress,
                               int width, int height)
    : socket_(rootFolder + "/tmux.sock") {
  started_ = tmux({"-f", "/dev/null", "new-session", "-d", "-x", std::to_string(width), "-y",
                   std::to_string(height), "env", "PELORIN_ROOT=" + rootFolder,
                   "DBUS_SESSION_BUS_ADDRESS=" + busAddress, PELORIN_RULES_PATH}) == 0;
}

EditorTerminal::~EditorTerminal() {
  tmux({"kill-server"});
}

void EditorTerminal::keys(const std::vector<std::string>& names) {
  std::vector<std::string> args = {"send-keys", "-t", "0"};
  args.insert(args.end(), names.begin(), names.end());
  tmux(args);
}

void EditorTerminal::type(const std::string& text) {
  tmux({"send-keys", "-t", "0", "-l", text});
}

void EditorTerminal::resize(int width, int height) {
  tmux({"resize-window", "-t", "0", "-x", std::to_string(width), "-y", std::to_string(height)});
}

std::string EditorTerminal::screen(bool attributes) {
  std::string out;
  tmux(attributes ? std::vector<std::string>{"capture-pane", "-p", "-e", "-t", "0"}
                  : std::vector<std::string>{"capture-pane", "-p", "-t", "0"},
       &out);
  return out;
}

bool EditorTerminal::waitUntil(const std::function<bool(const std::string&)>& condition,
                               bool attributes) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition(screen(attributes))) return true;
    std::this_thread::sleep_for(30ms);
  }
  return false;
}

bool EditorTerminal::shows(const std::string& golden) {
  if (std::getenv("PELORIN_UPDATE_SCREENS") != nullptr) {
    std::this_thread::sleep_for(500ms);
    return static_cast<bool>(std::ofstream(golden, std::ios::binary) << screen(true));
  }
  std::ifstream in(golden, std::ios::binary);
  const std::string expected{std::istreambuf_iterator<char>(in), {}};
  return !expected.empty() && waitUntil([&](const std::string& s) { return s == expected; }, true);
}

bool EditorTerminal::waitFor(const std::string& text) {
  return waitUntil([&](const std::string& s) { return s.find(text) != std::string::npos; });
}

bool EditorTerminal::waitForGone(const std::string& text) {
  return waitUntil([&](const std::string& s) { return s.find(text) == std::string::npos; });
}

bool EditorTerminal::ended() {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (tmux({"has-session", "-t", "0"}) != 0) return true;
    std::this_thread::sleep_for(30ms);
  }
  return false;
}

int EditorTerminal::tmux(std::vector<std::string> args, std::string* out) {
  args.insert(args.begin(), {"tmux", "-S", socket_});
  return runProgram(args, out, 10s).value_or(-1);
}

}  // namespace pelorin::rules_editor::testing
