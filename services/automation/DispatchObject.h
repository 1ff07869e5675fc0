#pragma once

#include <optional>
#include <string>
#include <string_view>

struct IDispatch;
struct IEnumVARIANT;

namespace quavelle {

// One string argument of a late-bound call. By reference the callee gets a
// copy of its own, which it may change; the caller's string never changes.
struct Argument {
  enum class Passing { kByReference, kByValue };
  std::u16string_view text;
  Passing passing;
};
inline Argument ByReference(std::u16string_view text) {
  return {text, Argument::Passing::kByReference};
}
inline Argument ByValue(std::u16string_view text) { return {text, Argument::Passing::kByValue}; }

class DispatchEnumerator;

// An automation object, or nothing, whose members are looked up by name at the
// moment of each call. Every failure throws ServiceError with the number and
// description the object raised; a member of nothing fails with 91.
class DispatchObject {
 public:
  DispatchObject() noexcept = default;  // nothing
  ~DispatchObject();
  DispatchObject(DispatchObject&& other) noexcept;
  DispatchObject& operator=(DispatchObject&& other) noexcept;
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // Creates the object registered under progId; 429 when that fails.
  static DispatchObject Create(const std::u16string& progId);

  bool IsNothing() const noexcept { return object_ == nullptr; }

  // Calls with a result: the member's value as an object (or nothing), a
  // string or a boolean; a value of another kind fails with 13.
  DispatchObject Object(std::u16string_view member,
                        std::optional<Argument> argument = std::nullopt) const;
  std::u16string String(std::u16string_view member,
                        std::optional<Argument> argument = std::nullopt) const;
  bool Boolean(std::u16string_view member, std::optional<Argument> argument = std::nullopt) const;
  // A call without a result: any value the member gives is dropped.
  void Call(std::u16string_view member, std::optional<Argument> argument = std::nullopt) const;

  // The object's standard enumerator, first element to last.
  DispatchEnumerator Enumerate() const;

 private:
  friend class DispatchEnumerator;
  explicit DispatchObject(IDispatch* adopted) noexcept : object_(adopted) {}
  void RequireObject() const;

  IDispatch* object_ = nullptr;
};

class DispatchEnumerator {
 public:
  ~DispatchEnumerator();
  DispatchEnumerator(DispatchEnumerator&& other) noexcept;
  DispatchEnumerator& operator=(DispatchEnumerator&& other) noexcept;
  DispatchEnumerator(const DispatchEnumerator&) = delete;
  DispatchEnumerator& operator=(const DispatchEnumerator&) = delete;

  // The next element (which may be nothing), or nullopt after the last one.
  std::optional<DispatchObject> Next();

 private:
  friend class DispatchObject;
  explicit DispatchEnumerator(IEnumVARIANT* adopted) noexcept : enumerator_(adopted) {}

  IEnumVARIANT* enumerator_ = nullptr;
};

}  // namespace quavelle
