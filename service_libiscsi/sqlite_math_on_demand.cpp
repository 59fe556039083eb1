// SQLite's SQL math functions (acos(), pow(), ...) are the only callers of
// the C math library in the tools, and the store's statements call none of
// them.  Loading the math library would still cost every run of every tool
// its share of the start.  So the static SQLite is linked with those calls
// renamed to the functions below (cmake/ToolsLinkage.cmake), which load the
// math library the first time one of them is called and then call its
// function: a statement that uses one still gets the real result.
#include <cmath>
#include <dlfcn.h>

namespace {

typedef double (*UnaryFunction)(double);
typedef double (*BinaryFunction)(double, double);

// The math library, once loaded (SQLite calls its functions from the thread
// that steps the statement; the store has one).  Not a function-local
// static: its thread-safe guard alone would link the C++ runtime's exception
// support into every tool.
void *gLibrary = nullptr;
bool gLibraryTried = false;

// The math library's function `name`; null when it cannot be had.
void *mathFunction(const char *name)
{
    if (!gLibraryTried) {
        gLibrary = dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
        gLibraryTried = true;
    }
    return gLibrary != nullptr ? dlsym(gLibrary, name) : nullptr;
}

double callUnary(const char *name, double x)
{
    UnaryFunction function = reinterpret_cast<UnaryFunction>(mathFunction(name));
    return function != nullptr ? function(x) : NAN;
}

double callBinary(const char *name, double x, double y)
{
    BinaryFunction function = reinterpret_cast<BinaryFunction>(mathFunction(name));
    return function != nullptr ? function(x, y) : NAN;
}

}  // namespace

#define ON_DEMAND_UNARY(name)                                                                      \
    extern "C" double tools_sqlite_##name(double x)                                                \
    {                                                                                              \
        return callUnary(#name, x);                                                                \
    }
#define ON_DEMAND_BINARY(name)                                                                     \
    extern "C" double tools_sqlite_##name(double x, double y)                                      \
    {                                                                                              \
        return callBinary(#name, x, y);                                                            \
    }

// The lists of cmake/ToolsLinkage.cmake (TOOLS_SQLITE_MATH_UNARY and _BINARY).
ON_DEMAND_UNARY(acos)
ON_DEMAND_UNARY(acosh)
ON_DEMAND_UNARY(asin)
ON_DEMAND_UNARY(asinh)
ON_DEMAND_UNARY(atan)
ON_DEMAND_UNARY(atanh)
ON_DEMAND_UNARY(ceil)
ON_DEMAND_UNARY(cos)
ON_DEMAND_UNARY(cosh)
ON_DEMAND_UNARY(exp)
ON_DEMAND_UNARY(floor)
ON_DEMAND_UNARY(log)
ON_DEMAND_UNARY(log10)
ON_DEMAND_UNARY(log2)
ON_DEMAND_UNARY(sin)
ON_DEMAND_UNARY(sinh)
ON_DEMAND_UNARY(sqrt)
ON_DEMAND_UNARY(tan)
ON_DEMAND_UNARY(tanh)
ON_DEMAND_UNARY(trunc)
ON_DEMAND_BINARY(atan2)
ON_DEMAND_BINARY(fmod)
ON_DEMAND_BINARY(pow)
