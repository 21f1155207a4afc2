// Resource ids of cvget.exe: dialogs, their controls, the tray menu and
// icon, and the string table. Plain defines, so that the resource compiler,
// Win32 code and portable code can all include this file.
#pragma once

// Dialog templates.
#define IDD_DOWNLOAD 101       // the download dialog
#define IDD_READY 104          // "Ready to Install"
#define IDD_INTRO 105          // the introduction
#define IDD_CANCEL_INSTALL 106 // "Cancel Installation"
#define IDD_HTTP_SETTINGS 108  // "HTTP Settings"

// Icon and menu of the tray.
#define IDI_TRAY 106
#define IDM_TRAY 107
#define IDM_TRAY_QUIT 40002
#define IDM_TRAY_OPEN 40003

// Controls of the download dialog; 1003, 1004 and 1009 double as the
// results that end the modal dialogs.
#define IDC_COMPONENT_LIST 1000
#define IDC_PROGRESS 1001
#define IDC_STATUS 1002
#define IDC_QUIT 1003
#define IDC_SUSPEND 1004
#define IDC_SECOND_BUTTON 1009

// Controls of the HTTP settings dialog.
#define IDC_PROXY_ADDRESS 1005
#define IDC_PROXY_USER 1006
#define IDC_PROXY_PASSWORD 1007
#define IDC_PROXY_PORT 1008
#define IDC_SITE_ADDRESS 1010
#define IDC_SITE_USER 1012
#define IDC_SITE_PASSWORD 1013
#define IDC_SETTINGS_NOTICE 1014
#define IDC_PROXY_LOGIN 1015  // which login the proxy asked for

// String table.
#define IDS_APP_NAME 16
#define IDS_NO_WINSOCK 17
#define IDS_NO_TEMP_DIR 18
#define IDS_FOLDER_KEY 19
#define IDS_SHORT_NAME 20
#define IDS_STATE_ALREADY_INSTALLED 512
#define IDS_STATE_DOWNLOADED 513
#define IDS_STATE_NEED_DOWNLOAD 514
#define IDS_STATE_DOWNLOAD_ERROR 515
#define IDS_STATE_DOWNLOADING 517
#define IDS_STATE_EXTRACTING 518
#define IDS_STATE_INSTALLING 519
#define IDS_STATE_INSTALL_DONE 520
#define IDS_COLUMN_COMPONENT 578
#define IDS_COLUMN_SIZE 579
#define IDS_COLUMN_STATUS 580
#define IDS_DOWNLOADING_FILE 581
#define IDS_CONNECTING 582
#define IDS_CONNECT_FAILED 583
#define IDS_RECEIVE_FAILED 584
#define IDS_DOWNLOAD_INCOMPLETE 585
#define IDS_DOWNLOAD_PROGRESS 586
#define IDS_ALL_DOWNLOADED 587
#define IDS_INSTALLING_NAME 588
#define IDS_EXTRACTING_NAME 589
#define IDS_FILES_MISSING 590
#define IDS_DISK_FULL 591
#define IDS_SUSPENDED 592
#define IDS_CONFIRM_QUIT 593
#define IDS_SINGLE_INSTANCE 594
#define IDS_RESUME_PROMPT 595
#define IDS_EXTRACT_FAILED 596
#define IDS_CERT_NOT_TRUSTED 597
#define IDS_CERT_WRONG_NAME 598
#define IDS_CERT_EXPIRED 599
#define IDS_ELEVATION_REFUSED 600
#define IDS_KEPT_FILES_CHANGED 601  // the elevated copy refused the kept files
#define IDS_KEPT_LIST_FAILED 602    // the kept files could not be listed for it
#define IDS_PROXY_LOGIN_WINDOWS 620  // the proxy asked for a Windows login
#define IDS_PROXY_LOGIN_BASIC 621
#define IDS_CERT_REVOKED 622  // a certificate of the site's chain was revoked
#define IDS_FINGERPRINT_MISMATCH 623  // a fetched file is not the one the setup pins
