// The component record of one list row, its states and protocol codes.
#pragma once

enum ComponentState {
    AlreadyInstalled = 0,
    Downloaded = 1,
    NeedDownload = 2,
    DownloadError = 3,
    Downloading = 4,
    Extracting = 5,
    Installing = 6,
    InstallDone = 7,
};

enum ProtocolCode {
    ProtocolFtp = 0,
    ProtocolCopy = 1,
    ProtocolCdrom = 2,
    ProtocolSelfext = 3,
    ProtocolHttp = 4,
};

struct Component {
    const char* downloadFolder;  // the session's folder, shared, not owned
    char infPath[260];           // setup description that defines it
    char section[72];            // its section name
    int sizeKB;
    int displayOrder;
    int installOrder;
    ComponentState state;
};
