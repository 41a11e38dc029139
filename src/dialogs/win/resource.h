// Identifiers of the Windows resources of the dialogs and the program's icon,
// shared by dialogs.rc and the code.
#pragma once

// Pictures.
#define IDI_TELWICK 1  // the program's icon: windows, message boxes, the tray
#define IDI_COMPUTER 101
#define IDI_EVENTTYPE 102
#define IDI_EVENTLEVEL 103
#define IDB_DATABASE 110

// frmDatabase.
#define IDD_DATABASE 200
#define IDC_PICIMAGE 201
#define IDC_BRDIMPORTEXPORT 202
#define IDC_LBLSERVER 203
#define IDC_TXTSERVER 204
#define IDC_LINE 205
#define IDC_LBLCONNECTION 206
#define IDC_OPTUSER0 207
#define IDC_OPTUSER1 208
#define IDC_LBLUSERNAME 209
#define IDC_TXTUSERNAME 210
#define IDC_LBLPASSWORD 211
#define IDC_TXTPASSWORD 212

// frmConfigurations.
#define IDD_CONFIGURATIONS 300
#define IDC_BRDCONFIGURATIONS 301
#define IDC_LSTCONFIGURATIONS 302
#define IDC_CMDADD 303
#define IDC_CMDREMOVE 304
#define IDC_CMDEDIT 305

// frmConfiguration.
#define IDD_CONFIGURATION 400
#define IDC_BRDFILTER 401
#define IDC_LBLCOMPUTER 402
#define IDC_CBOCOMPUTER 403
#define IDC_LBLEVENTTYPE 404
#define IDC_CBOEVENTTYPE 405
#define IDC_LBLEVENTLEVEL 406
#define IDC_CBOEVENTLEVEL 407
#define IDC_BRDACTION 408
#define IDC_CHKMESSAGEBOX 409
#define IDC_CHKEVENTLOG 410
#define IDC_CHKRUNBATCH 411
#define IDC_TXTBATCH 412
#define IDC_CMDBROWSE 413
