// The one header through which the program and the port library reach Windows.
//
// On Windows it is the system's own headers. Elsewhere the same names, types, constants and record
// layouts come from winsim, so that the code the Linux tests exercise is the code that runs on
// Windows.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winspool.h>
#include <winsvc.h>
// The SDK ships the Standard TCP/IP monitor's records in <tcpxcv.h>; MinGW does not, and then the
// declarations below stand in for it.
#if defined(__has_include)
#if __has_include(<tcpxcv.h>)
#include <tcpxcv.h>
#define COURIER_HAVE_TCPXCV 1
#endif
#endif

#else

#include "winsim/winsimapi.h"

#endif

#ifndef COURIER_HAVE_TCPXCV

// Records of the "Standard TCP/IP Port" monitor's XcvDataW commands. Their layout is fixed by the
// monitor (964, 236 and 132 bytes); text fields are NUL-terminated UTF-16 inside their width.
#define MAX_PORTNAME_LEN (63 + 1)
#define MAX_NETWORKNAME_LEN (48 + 1)
#define MAX_SNMP_COMMUNITY_STR_LEN (32 + 1)
#define MAX_QUEUENAME_LEN (32 + 1)
#define MAX_IPADDR_STR_LEN (15 + 1)
#define RESERVED_BYTE_ARRAY_SIZE 540

#define PROTOCOL_RAWTCP_TYPE 1
#define PROTOCOL_LPR_TYPE 2

typedef struct _PORT_DATA_1
{
    WCHAR sztPortName[MAX_PORTNAME_LEN];
    DWORD dwVersion;
    DWORD dwProtocol;
    DWORD cbSize;
    DWORD dwReserved;
    WCHAR sztHostAddress[MAX_NETWORKNAME_LEN];
    WCHAR sztSNMPCommunity[MAX_SNMP_COMMUNITY_STR_LEN];
    DWORD dwDoubleSpool;
    WCHAR sztQueue[MAX_QUEUENAME_LEN];
    WCHAR sztIPAddress[MAX_IPADDR_STR_LEN];
    BYTE Reserved[RESERVED_BYTE_ARRAY_SIZE];
    DWORD dwPortNumber;
    DWORD dwSNMPEnabled;
    DWORD dwSNMPDevIndex;
} PORT_DATA_1, *PPORT_DATA_1;

typedef struct _DELETE_PORT_DATA_1
{
    WCHAR psztPortName[MAX_PORTNAME_LEN];
    BYTE Reserved[98];
    DWORD dwVersion;
    DWORD dwReserved;
} DELETE_PORT_DATA_1, *PDELETE_PORT_DATA_1;

typedef struct _CONFIG_INFO_DATA_1
{
    BYTE Reserved[128];
    DWORD dwVersion;
} CONFIG_INFO_DATA_1, *PCONFIG_INFO_DATA_1;

#endif
