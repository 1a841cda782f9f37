#pragma once
// Resource identifiers of the program (shared by the .rc files and the code).
// The program icon has the lowest number, so it is the executable's first
// icon (index 0) in the shell's eyes.

#define IDI_MAINICON 100  // program icon (16, 32, 48 pixels)
#define IDI_TRAY_ON 101   // tray icon, hot-key control on: red square, 16/20/24/32 px, 32-bit
#define IDI_TRAY_OFF 102  // tray icon, hot-key control off: grey square, 16/20/24/32 px, 32-bit

#define IDR_VERSION 1       // VS_VERSION_INFO
#define IDR_MESSAGETABLE 1  // message 1 = "%1", for the event viewer
#define IDR_MANIFEST 1      // CREATEPROCESS_MANIFEST_RESOURCE_ID
