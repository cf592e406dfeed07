// The D2XX entry points of libd2xx_double.so: the ten FT_ functions with C
// linkage, each forwarding to the one double instance, so that the library
// can be loaded as a converter driver (PX418USB_DRIVER=<path of this file>).
#include "d2xx_double.h"

#define D2XX_DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

D2XX_DOUBLE_EXPORT FT_STATUS FT_ListDevices(void *pArg1, void *pArg2, DWORD flags)
{
    return d2xxdouble::Instance().ListDevices(pArg1, pArg2, flags);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle)
{
    return d2xxdouble::Instance().Open(deviceNumber, pHandle);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_Close(FT_HANDLE handle)
{
    return d2xxdouble::Instance().Close(handle);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *pReturned)
{
    return d2xxdouble::Instance().Read(handle, buffer, toRead, pReturned);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD toWrite,
                                      DWORD *pWritten)
{
    return d2xxdouble::Instance().Write(handle, buffer, toWrite, pWritten);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate)
{
    return d2xxdouble::Instance().SetBaudRate(handle, baudRate);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,
                                                       UCHAR stopBits, UCHAR parity)
{
    return d2xxdouble::Instance().SetDataCharacteristics(handle, wordLength, stopBits, parity);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout)
{
    return d2xxdouble::Instance().SetTimeouts(handle, readTimeout, writeTimeout);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latency)
{
    return d2xxdouble::Instance().SetLatencyTimer(handle, latency);
}

D2XX_DOUBLE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask)
{
    return d2xxdouble::Instance().Purge(handle, mask);
}

// The instance, for code that reaches the library through dlopen/dlsym.
D2XX_DOUBLE_EXPORT d2xxdouble::D2xxDouble *D2xxDoubleInstance()
{
    return &d2xxdouble::Instance();
}
