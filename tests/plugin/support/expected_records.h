// Expected record lists in the words of the labelled decoder, built by the
// tests from what each program does, and matched against decoded traces.
// A group marked as repeated stands for a loop whose trip count the
// program does not fix (a thread waiting for its stream).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plugintest {

class Records {
 public:
  Records& line(const std::string& text) {
    items_.push_back({text, {}});
    return *this;
  }
  Records& enter(const std::string& function, const std::string& caller) {
    return line("enter " + function + " from " + caller);
  }
  Records& exit() { return line("exit"); }
  // A call that leaves nothing between its entry and its exit.
  Records& call(const std::string& function, const std::string& caller) { return enter(function, caller).exit(); }
  Records& local(const std::string& variable, uint64_t offset = 0) {
    return line("local " + variable + " +" + std::to_string(offset));
  }
  Records& locals(const std::string& variable, int times) {
    for (int i = 0; i < times; ++i) local(variable);
    return *this;
  }
  Records& outer(const std::string& variable, uint32_t depth, uint64_t offset = 0) {
    return line("outer " + variable + " @" + std::to_string(depth) + " +" + std::to_string(offset));
  }
  Records& global(const std::string& variable, uint64_t offset = 0) {
    return line("global " + variable + " +" + std::to_string(offset));
  }
  Records& unknown() { return line("unknown"); }
  Records& heap(uint64_t uid, uint64_t offset) {
    return line("heap #" + std::to_string(uid) + " +" + std::to_string(offset));
  }
  Records& alloc(uint64_t uid, uint64_t size) { return line("alloc #" + std::to_string(uid) + " " + std::to_string(size)); }
  Records& realloc(uint64_t uid, uint64_t size) {
    return line("realloc #" + std::to_string(uid) + " " + std::to_string(size));
  }
  Records& free(uint64_t uid, uint64_t size) { return line("free #" + std::to_string(uid) + " " + std::to_string(size)); }
  Records& size(uint64_t bytes) { return line("size " + std::to_string(bytes)); }
  Records& vla(uint64_t bytes) { return line("vla " + std::to_string(bytes)); }
  Records& created(uint32_t thread) { return line("create " + std::to_string(thread)); }
  Records& joined(uint32_t thread) { return line("join " + std::to_string(thread)); }
  Records& unwind(int frames, uint32_t location) {
    for (int i = 0; i < frames; ++i) line("unwind");
    return line("unwind-stop " + std::to_string(location));
  }
  // Zero or more repetitions of group, here.
  Records& repeated(const Records& group) {
    std::vector<std::string> lines;
    for (const Item& i : group.items_) lines.push_back(i.text);
    items_.push_back({"", lines});
    return *this;
  }
  Records& append(const Records& more) {
    items_.insert(items_.end(), more.items_.begin(), more.items_.end());
    return *this;
  }

  struct Item {
    std::string text;
    std::vector<std::string> group;  // non-empty: a repeated group
  };
  const std::vector<Item>& items() const { return items_; }

 private:
  std::vector<Item> items_;
};

// "" when actual is exactly expected (each repeated group taken as often as
// it matches), else where they part, with context.
std::string match(const std::vector<std::string>& actual, const Records& expected);

}  // namespace plugintest
