// The D2XX entry points of libd2xx_double.so: the ten FT_ functions with C
// linkage, each forwarding to the one double instance, so that the library
// can be loaded as a converter driver (PX418USB_DRIVER=<path of this file>).
#include "d2xx_double.h"
#include "d2xx_table.h"

D2XX_DEFINE_EXPORTS(D2xxForwarding<&d2xxdouble::Instance>);

// The instance, for code that reaches the library through dlopen/dlsym.
D2XX_EXPORT d2xxdouble::D2xxDouble *D2xxDoubleInstance()
{
    return &d2xxdouble::Instance();
}
