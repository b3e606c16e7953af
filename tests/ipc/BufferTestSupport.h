// Helpers for the buffer tests: byte views and expectations on raised codes.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ipc/util_ipc_msg_buffer.h"

namespace foundationtest {

using Bytes = std::vector<BYTE>;

inline Bytes Contents(const CAccBuffer& buffer) {
    const BYTE* data = buffer.GetData();
    return data ? Bytes(data, data + buffer.BytesUsed()) : Bytes();
}

inline CIPCMsgBuffer BufferOf(const Bytes& bytes) {
    CIPCMsgBuffer buffer(1024);
    if (!bytes.empty()) buffer.Append(bytes.data(), static_cast<unsigned>(bytes.size()));
    return buffer;
}

// Runs action, expects a CIPCMsgBufferException with code, and checks the raise's
// place and auxiliary value; returns false when nothing or something else was thrown.
inline bool RaisesCode(int code, const std::function<void()>& action) {
    try {
        action();
    } catch (const CIPCMsgBufferException& e) {
        EXPECT_EQ(code, e.GetErrorCode());
        EXPECT_EQ(4, e.GetAuxValue());
        EXPECT_EQ(L"util_ipc_msg_buffer", e.GetFileName());
        EXPECT_GT(e.GetLine(), 0);
        return e.GetErrorCode() == code;
    } catch (...) {
        return false;
    }
    return false;
}

}  // namespace foundationtest
