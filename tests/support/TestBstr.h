// A BSTR owned by a test for the length of one call or one test.
#ifndef KESTRAVA_TESTS_SUPPORT_TESTBSTR_H
#define KESTRAVA_TESTS_SUPPORT_TESTBSTR_H

#include <windows.h>
#include <oleauto.h>

class Bstr {
  public:
    explicit Bstr(const wchar_t *text) : value_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return value_; }

  private:
    BSTR value_;
};

#endif
