#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>

namespace pelorin::platform::runtime {

// The object runtime of a process: classes registered by name, each with
// instance methods keyed by their full selector text ("sendSMS:withMoreToFollow:").
// A method is a slot holding its current implementation; hosts call every
// replaceable method through its slot, so a tweak that replaces the
// implementation sees every call from then on, on whichever thread it is made.
//
// Classes and methods are never removed; their addresses stay valid for the
// life of the process. Every function here is thread-safe, and replacing an
// implementation is safe while other threads call the method: a caller runs
// either the old or the new implementation, never a torn one.

// A type-erased implementation: a plain function pointer whose real type is
// the method's signature (receiver first, then the arguments).
using Implementation = void (*)();

class Method {
 public:
  Method(std::string selector, std::string signature, Implementation initial)
      : selector_(std::move(selector)),
        signature_(std::move(signature)),
        implementation_(initial) {}
  Method(const Method&) = delete;
  Method& operator=(const Method&) = delete;

  const std::string& selector() const { return selector_; }
  // The mangled name of the C++ function type of the implementation; typed
  // access checks it so that a mismatched replacement is refused, not called.
  const std::string& signature() const { return signature_; }

  Implementation implementation() const { return implementation_.load(std::memory_order_acquire); }
  // Installs `implementation`; returns the one it replaced.
  Implementation exchange(Implementation replacement) {
    return implementation_.exchange(replacement, std::memory_order_acq_rel);
  }
  // Installs `desired` only when `expected` is still installed.
  bool compareExchange(Implementation expected, Implementation desired) {
    return implementation_.compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
  }

 private:
  const std::string selector_;
  const std::string signature_;
  std::atomic<Implementation> implementation_;
};

class Class;

// The four operations tweaks use.
// The class registered under `name`, or nullptr.
Class* getClass(std::string_view name);
// The instance method of `cls` for `selector`, or nullptr (also for a null class).
Method* getInstanceMethod(const Class* cls, std::string_view selector);
// The method's current implementation (nullptr for a null method).
Implementation getImplementation(const Method* method);
// Installs `implementation` and returns the previous one (nothing happens and
// nullptr is returned for a null method or a null implementation).
Implementation setImplementation(Method* method, Implementation implementation);

// Hosts: registers the class (or returns the one already registered).
Class& registerClass(std::string_view name);
// Hosts: adds an instance method. When the class already has the selector the
// existing method is kept and returned, so a second registration never undoes
// a replacement.
Method& addMethod(Class& cls, std::string_view selector, std::string_view signature,
                  Implementation implementation);

// ---- Typed access ----

// The signature text of a method of C++ type Signature (e.g. `bool(Host&, int)`).
template <class Signature>
std::string signatureOf() {
  return typeid(Signature).name();
}

template <class Signature>
class TypedMethod;

// A method seen with its C++ type. Calling it runs the installed
// implementation; replacing it returns the previous one as a typed pointer.
template <class R, class... Args>
class TypedMethod<R(Args...)> {
 public:
  using Pointer = R (*)(Args...);

  // The method when the class and selector exist and the registered signature
  // is R(Args...); nothing otherwise.
  static std::optional<TypedMethod> find(std::string_view className, std::string_view selector) {
    return fromMethod(getInstanceMethod(getClass(className), selector));
  }
  static std::optional<TypedMethod> fromMethod(Method* method) {
    if (method == nullptr || method->signature() != signatureOf<R(Args...)>()) return std::nullopt;
    return TypedMethod(*method);
  }

  // Hosts: registers `implementation` as the class's method (see addMethod).
  static TypedMethod add(Class& cls, std::string_view selector, Pointer implementation) {
    Method& method = addMethod(cls, selector, signatureOf<R(Args...)>(),
                               reinterpret_cast<Implementation>(implementation));
    return TypedMethod(method);
  }

  R operator()(Args... args) const {
    return reinterpret_cast<Pointer>(method_->implementation())(std::forward<Args>(args)...);
  }

  Pointer implementation() const { return reinterpret_cast<Pointer>(method_->implementation()); }

  // Saves the current implementation in `previous` and only then installs
  // `replacement`, so a call that reaches the replacement always finds the
  // saved implementation in place.
  void hook(Pointer replacement, std::atomic<Pointer>& previous) {
    for (;;) {
      Implementation current = method_->implementation();
      previous.store(reinterpret_cast<Pointer>(current), std::memory_order_release);
      if (method_->compareExchange(current, reinterpret_cast<Implementation>(replacement))) return;
    }
  }

  Method& method() const { return *method_; }

 private:
  explicit TypedMethod(Method& method) : method_(&method) {}
  Method* method_;
};

// Looks up `className`/`selector` with the type Signature and hooks it:
// `previous` receives the implementation that was installed. False (and
// nothing changes) when the class or the method is missing or has another
// signature; that is the silent skip every tweak performs.
template <class Signature, class Pointer = typename TypedMethod<Signature>::Pointer>
bool hookMethod(std::string_view className, std::string_view selector, Pointer replacement,
                std::atomic<Pointer>& previous) {
  auto method = TypedMethod<Signature>::find(className, selector);
  if (!method) return false;
  method->hook(replacement, previous);
  return true;
}

// A host's replaceable method, as the host's own class calls it: registered
// once at start-up with the host's implementation, then every call runs
// whatever implementation is installed at that moment. Before registration
// (a process where no host registered the class, such as a unit test) calls
// go straight to the fallback given to call().
template <class Signature>
class MethodSlot;

template <class R, class Self, class... Args>
class MethodSlot<R(Self&, Args...)> {
 public:
  using Pointer = R (*)(Self&, Args...);

  // Registers `className`/`selector` with `implementation` (idempotent: an
  // existing method, possibly replaced, is kept).
  void registerIn(std::string_view className, std::string_view selector, Pointer implementation) {
    Method& method = addMethod(registerClass(className), selector, signatureOf<R(Self&, Args...)>(),
                               reinterpret_cast<Implementation>(implementation));
    // A method of another type registered earlier under the selector is never called from here.
    if (method.signature() == signatureOf<R(Self&, Args...)>()) {
      method_.store(&method, std::memory_order_release);
    }
  }

  R call(Pointer fallback, Self& self, Args... args) const {
    const Method* method = method_.load(std::memory_order_acquire);
    const Pointer target = method ? reinterpret_cast<Pointer>(method->implementation()) : fallback;
    return target(self, std::forward<Args>(args)...);
  }

 private:
  std::atomic<Method*> method_{nullptr};
};

}  // namespace pelorin::platform::runtime
