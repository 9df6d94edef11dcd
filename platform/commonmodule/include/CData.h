// Binary contract of the utility library CommonModule.dll.
#ifndef CDATA_H
#define CDATA_H

#ifdef COMMONMODULE_BUILDING
#define COMMONMODULE_API __declspec(dllexport)
#else
#define COMMONMODULE_API __declspec(dllimport)
#endif

class COMMONMODULE_API CData {
  public:
    CData();
    CData(const char *text);
    CData(const CData &other);
    CData &operator=(const CData &other);
    ~CData();
    CData &operator=(const char *text);  // null assigns the empty string
    CData &operator+=(const char *text); // appends; null appends nothing
    const char *c_str() const;           // never null

  private:
    char *text_;
};

#endif
