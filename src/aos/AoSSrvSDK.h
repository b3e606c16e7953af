// Client of the server's add-on manager: registration, path information and the
// add-on's last error.
#pragma once
#include <string>

class CIPCMsgBuffer;

struct AoSComponentEntry {
    const wchar_t* wpszText1;
    const wchar_t* wpszText2;
    int iNumber;
};

#pragma pack(push, 1)
struct AoSUIExtensionData {
    const wchar_t* wpszGroupId;
    const wchar_t* wpszExtensionFileName;
    const wchar_t* wpszDescription;
    unsigned char bAllowed;
    unsigned char bUIDeletable;
};
#pragma pack(pop)

struct AoSUIPage {
    const wchar_t* wpszPageName;
    const wchar_t* wpszPageURL;
};

// Registration record; the caller owns it and every text it points to.
struct AoSData {
    unsigned int dwSize;  // callers set 52; not read and not sent
    const wchar_t* wpszPLSId;
    const wchar_t* wpszPLSVersion;
    const wchar_t* wpszInstallPath;
    const wchar_t* wpszAuxText;
    const wchar_t* wpszPlugInPath;
    const wchar_t* wpszUninstallPath;
    int iComponentCount;
    const AoSComponentEntry* pComponents;
    int iTotalUIExtensionDataCount;
    const AoSUIExtensionData* pUIExtensions;
    int iUIPageCount;
    const AoSUIPage* pUIPages;
};

enum AoSPathKind { ServerFolder = 0, AddonRoot = 1 };

// 0 on success, else the manager's status code or a failure value.
int AoSSrv_Register(const AoSData* record);
int AoSSrv_Unregister(const AoSData* record);
// Fills out (260 characters) with the folder of the requested kind; always 0.
int AoSSrv_GetPathInfo(AoSPathKind kind, wchar_t* out);
// 0, or 1011 when the add-on's entry cannot be found or opened.
int AoSSrv_SetLastError(const wchar_t* versionText, const wchar_t* description);

void SerializeAoSData(int id, CIPCMsgBuffer& buffer, const AoSData& record);
// The server's install folder from the registry, or the empty string.
std::wstring GetServerLocalPath();
// out holds 261 characters: base and tail joined by exactly one backslash, cut to 260.
void JoinPath(const wchar_t* base, const wchar_t* tail, wchar_t* out);

// Registry location of the server's install folder.
extern const wchar_t kServerInformationKey[];
extern const wchar_t kServerLocalPathValue[];

// The id the add-on registers under and records its last error under.
extern const wchar_t kWdxAddonId[];
