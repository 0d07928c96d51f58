#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pelorin::rules_editor::testing {

// pelorin-rules running in a tmux session of its own (private server socket,
// `width` x `height`), in the given root and on the given bus: keystrokes in,
// screen out.
class EditorTerminal {
 public:
  EditorTerminal(const std::string& rootFolder, const std::string& busAddress, int width = 80,
                 int height = 24);
  ~EditorTerminal();
  EditorTerminal(const EditorTerminal&) = delete;
  EditorTerminal& operator=(const EditorTerminal&) = delete;

  bool started() const { return started_; }

  // Named keys (Enter, Tab, Escape, BSpace, Up, ...).
  void keys(const std::vector<std::string>& names);
  void type(const std::string& text);
  void resize(int width, int height);

  // The screen's text; with `attributes`, with the escape sequences of its
  // attributes (bold, reverse, underline) too.
  std::string screen(bool attributes = false);

  // Polls the screen until `condition` holds on it (at most ten seconds).
  bool waitUntil(const std::function<bool(const std::string&)>& condition, bool attributes = false);
  // Waits until the screen with its attributes is the content of the file
  // `golden`. With PELORIN_UPDATE_SCREENS set in the environment, writes the
  // screen to that file instead, once it has settled.
  bool shows(const std::string& golden);
  bool waitFor(const std::string& text);
  bool waitForGone(const std::string& text);
  // True once the program has ended (at most ten seconds).
  bool ended();

 private:
  int tmux(std::vector<std::string> args, std::string* out = nullptr);

  std::string socket_;
  bool started_ = false;
};

}  // namespace pelorin::rules_editor::testing
