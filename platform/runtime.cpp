#include "platform/runtime.h"

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace pelorin::platform::runtime {

class Class {
 public:
  explicit Class(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  Method* find(std::string_view selector) const {
    std::shared_lock lock(mutex_);
    auto it = methods_.find(selector);
    return it == methods_.end() ? nullptr : it->second.get();
  }

  Method& add(std::string_view selector, std::string_view signature,
              Implementation implementation) {
    std::unique_lock lock(mutex_);
    auto [it, inserted] = methods_.try_emplace(std::string(selector));
    if (inserted) {
      it->second =
          std::make_unique<Method>(std::string(selector), std::string(signature), implementation);
    }
    return *it->second;
  }

 private:
  const std::string name_;
  mutable std::shared_mutex mutex_;
  std::map<std::string, std::unique_ptr<Method>, std::less<>> methods_;  // guarded by mutex_
};

namespace {

// The process's class table. Lookups happen at start-up, so a plain
// reader-writer lock is enough; calls never touch it.
class ClassTable {
 public:
  Class* find(std::string_view name) const {
    std::shared_lock lock(mutex_);
    auto it = classes_.find(name);
    return it == classes_.end() ? nullptr : it->second.get();
  }

  Class& add(std::string_view name) {
    std::unique_lock lock(mutex_);
    auto [it, inserted] = classes_.try_emplace(std::string(name));
    if (inserted) it->second = std::make_unique<Class>(std::string(name));
    return *it->second;
  }

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, std::unique_ptr<Class>, std::less<>> classes_;  // guarded by mutex_
};

// Never destroyed: tweaks may still call through methods while the process exits.
ClassTable& classTable() {
  static auto* const table = new ClassTable();
  return *table;
}

}  // namespace

Class* getClass(std::string_view name) {
  return classTable().find(name);
}

Method* getInstanceMethod(const Class* cls, std::string_view selector) {
  return cls == nullptr ? nullptr : cls->find(selector);
}

Implementation getImplementation(const Method* method) {
  return method == nullptr ? nullptr : method->implementation();
}

Implementation setImplementation(Method* method, Implementation implementation) {
  if (method == nullptr || implementation == nullptr) return nullptr;
  return method->exchange(implementation);
}

Class& registerClass(std::string_view name) {
  return classTable().add(name);
}

Method& addMethod(Class& cls, std::string_view selector, std::string_view signature,
                  Implementation implementation) {
  return cls.add(selector, signature, implementation);
}

}  // namespace pelorin::platform::runtime
