#pragma once

#include <QtGlobal>

// Message box type flags and answers, with their Windows values: callers
// and the optional message-box library speak these numbers.

inline constexpr quint32 MB_OK = 0x0;
inline constexpr quint32 MB_OKCANCEL = 0x1;
inline constexpr quint32 MB_ABORTRETRYIGNORE = 0x2;
inline constexpr quint32 MB_YESNOCANCEL = 0x3;
inline constexpr quint32 MB_YESNO = 0x4;
inline constexpr quint32 MB_RETRYCANCEL = 0x5;
inline constexpr quint32 MB_CANCELTRYCONTINUE = 0x6;
inline constexpr quint32 MB_TYPEMASK = 0xF;

inline constexpr quint32 MB_ICONERROR = 0x10;
inline constexpr quint32 MB_ICONQUESTION = 0x20;
inline constexpr quint32 MB_ICONWARNING = 0x30;
inline constexpr quint32 MB_ICONINFORMATION = 0x40;
inline constexpr quint32 MB_ICONMASK = 0xF0;

inline constexpr quint32 MB_DEFBUTTON1 = 0x000;
inline constexpr quint32 MB_DEFBUTTON2 = 0x100;
inline constexpr quint32 MB_DEFBUTTON3 = 0x200;
inline constexpr quint32 MB_DEFBUTTON4 = 0x300;
inline constexpr quint32 MB_DEFMASK = 0xF00;

inline constexpr quint32 MB_TOPMOST = 0x40000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;
