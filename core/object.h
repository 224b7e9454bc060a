// core/object.h - class_base, the root of every class, and function objects.
//
// Every class answers className() with one constant name string of its own;
// isSameClass and isOfClass compare by the identity of that string (its
// address), never by its characters, so a look-alike name from elsewhere is
// never mistaken for the class.
//
// Teardown: most classes release what they own in their destructors. Classes
// whose end() callers run explicitly use the end-once guard: end() may run
// before the object is deleted, and the destructor then does not run it again.
#pragma once

namespace bw {

class class_base {
 public:
  static constexpr char kClassName[] = "class_base";

  class_base() = default;
  class_base(const class_base&) = default;
  class_base& operator=(const class_base&) = default;
  virtual ~class_base() = default;

  virtual const char* className() const { return kClassName; }
  // True when className() is that very string.
  bool isSameClass(const char* name) const { return className() == name; }
  // True when name is this class's name string or one of its bases'.
  virtual bool isOfClass(const char* name) const { return name == kClassName; }

 protected:
  // End-once guard: true the first time it is asked, false afterwards.
  bool takeEndPending() {
    bool pending = endPending_;
    endPending_ = false;
    return pending;
  }
  bool endPending() const { return endPending_; }

 private:
  bool endPending_ = true;
};

// Declares className and isOfClass for a class derived from Base.
#define BW_CLASS(Name, Base)                                          \
 public:                                                              \
  static constexpr char kClassName[] = #Name;                         \
  const char* className() const override { return kClassName; }       \
  bool isOfClass(const char* name) const override {                   \
    return name == kClassName || Base::isOfClass(name);               \
  }

// The base of every function object (comparators, matchers, callbacks).
class function : public class_base {
  BW_CLASS(function, class_base)
};

}  // namespace bw
