// Text ids of the sample resource DLL, shared by the sample console pages.
#pragma once

enum {
    CGIRES_TITLE_INDEX = 1,
    CGIRES_TITLE_LOGIN = 2,
    CGIRES_TITLE_STATUS = 3,
    CGIRES_TITLE_REPORT = 4,
    CGIRES_SIGN_IN = 10,
    CGIRES_LINK_STATUS = 11,
    CGIRES_LINK_REPORT = 12,
    CGIRES_LINK_INDEX = 13,
    CGIRES_LINK_LOGIN = 14,
    CGIRES_CODE_UNKNOWN = 100,
};

// What a status code means for a person: CGIRES_CODE(3905), for the codes
// 3900, 3904, 3905, 3906, 3907 and 3910.
#define CGIRES_CODE(code) (10000 + (code))
