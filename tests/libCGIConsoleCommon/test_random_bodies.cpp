// Deterministic randomized run: generated multipart and URL-encoded bodies,
// cut at random points and delivered in random read sizes. Every parse must
// end, and every complete part must arrive byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "FuzzSupport.h"
#include "ParamTestSupport.h"

using namespace paramtest;

namespace {

const uint32_t kSeed = 20261208;
const int kBodies = 100000;
const double kMaxParseSeconds = 2.0;

typedef std::mt19937 Rng;

size_t Pick(Rng& rng, size_t low, size_t high) { return std::uniform_int_distribution<size_t>(low, high)(rng); }
bool Chance(Rng& rng, int percent) { return Pick(rng, 1, 100) <= static_cast<size_t>(percent); }

// About cb bytes from alphabet; "~" stands for the two-byte UTF-8 letter U+00E9.
std::string RandomText(Rng& rng, size_t cb, const std::string& alphabet) {
    std::string text;
    while (text.size() < cb) {
        char c = alphabet[Pick(rng, 0, alphabet.size() - 1)];
        text += c == '~' ? std::string("\xC3\xA9") : std::string(1, c);
    }
    return text;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size())));
    return out;
}

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes.substr(0, 1500)) {
        char hex[8];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return bytes.size() > 1500 ? out + "..." : out;
}

// One generated request with what the parser must make of it.
struct Case {
    plm::SCgiRequest request;
    std::string delivered;  // the bytes on the input
    size_t chunk = 0;
    bool checkPairs = true;  // false: random bytes, only status and bounds count
    Pairs pairs;             // expected; a file pair's value holds the file's bytes
    std::vector<bool> isFilePair;
    bool hasFilePart = false;  // only these touch the file system, which is slow under Wine
};

const char kBoundaryChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'()+_,-./=?";
const char kTextChars[] = "abcXYZ019 %\r\n\":=-+&~";

// The 260-byte value buffer keeps 259 bytes, cut before an incomplete character.
std::string CutValue(const std::string& value) {
    if (value.size() <= 259) return value;
    size_t cut = 259;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    return value.substr(0, cut);
}

// Mostly small; else around one or two buffer sizes, so that delimiters
// straddle reads at every offset.
size_t PartSize(Rng& rng, size_t cbSmall) {
    return Chance(rng, 60) ? Pick(rng, 0, cbSmall) : Pick(rng, 1, 2) * 4096 + Pick(rng, 0, 160) - 120;
}

std::string TextData(Rng& rng, const std::string& boundary) {
    size_t cb = PartSize(rng, 320);
    return cb <= 320 ? RandomText(rng, cb, kTextChars) : RandomText(rng, cb, "\r\n-a~%" + boundary);
}

std::string FileData(Rng& rng, const std::string& boundary) {
    size_t cb = PartSize(rng, 200);
    std::string alphabet = Chance(rng, 50) ? "\r\n-" + boundary : std::string();
    std::string data;
    while (data.size() < cb) {
        data += alphabet.empty() || Chance(rng, 10) ? static_cast<char>(Pick(rng, 0, 255))
                                                    : alphabet[Pick(rng, 0, alphabet.size() - 1)];
    }
    return data;
}

Case MultipartCase(Rng& rng) {
    Case c;
    std::string boundary = RandomText(rng, Pick(rng, 1, 70), kBoundaryChars);
    const std::string delimiter = "\r\n--" + boundary;
    bool quoted = Chance(rng, 20);
    c.request = Post("multipart/form-data; boundary=" + (quoted ? "\"" + boundary + "\"" : boundary), "");
    std::string body;
    std::vector<std::pair<size_t, Pairs>> partEnds;  // offset after each part's delimiter, its pairs
    std::vector<std::vector<bool>> partFiles;
    size_t parts = Pick(rng, 0, 4);
    for (size_t i = 0; i < parts; ++i) {
        bool isFile = Chance(rng, 7);
        c.hasFilePart |= isFile;
        std::string name =
            isFile ? RandomText(rng, Pick(rng, 1, 12), "abcdefXYZ") : RandomText(rng, Pick(rng, 1, 20), "abcXYZ %:=~");
        std::string data = isFile ? FileData(rng, boundary) : TextData(rng, boundary);
        if ((data + delimiter).find(delimiter) != data.size()) data.clear();  // data never holds its delimiter
        body +=
            (i == 0 ? "--" + boundary : std::string()) + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
        if (isFile) body += "; filename=\"up.bin\"\r\nContent-Type: application/octet-stream";
        body += "\r\n\r\n" + data + delimiter;
        Pairs pairs;
        std::vector<bool> files;
        std::string value = CutValue(data);
        if (isFile) {
            pairs = {{FromUtf8(name), FromUtf8(data)}, {L"TempFileName", FromUtf8(data)}};
            files = {true, true};
            pairs[0].second.assign(data.begin(), data.end());
            pairs[1].second = pairs[0].second;
        } else if (!value.empty()) {
            pairs = {{FromUtf8(name), FromUtf8(value)}};
            files = {false};
        }
        partEnds.emplace_back(body.size(), pairs);
        partFiles.push_back(files);
    }
    body += parts ? "--\r\n" : "";
    size_t effective = body.size();
    c.request.contentLength = std::to_string(body.size());
    c.delivered = body;
    if (Chance(rng, 30)) {
        effective = Pick(rng, 0, body.size());
        if (Chance(rng, 50))
            c.delivered = body.substr(0, effective);
        else
            c.request.contentLength = std::to_string(effective);
    }
    for (size_t i = 0; i < partEnds.size() && partEnds[i].first <= effective; ++i) {
        c.pairs.insert(c.pairs.end(), partEnds[i].second.begin(), partEnds[i].second.end());
        c.isFilePair.insert(c.isFilePair.end(), partFiles[i].begin(), partFiles[i].end());
    }
    return c;
}

std::string PercentEncode(Rng& rng, const std::wstring& text, bool plusForSpace) {
    std::string utf8(text.size() * 3 + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0],
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    std::string out;
    for (unsigned char c : utf8) {
        char hex[4];
        if (isalnum(c))
            out += static_cast<char>(c);
        else if (c == ' ' && plusForSpace)
            out += '+';
        else {
            snprintf(hex, sizeof hex, Chance(rng, 50) ? "%%%02X" : "%%%02x", c);
            out += hex;
        }
    }
    return out;
}

std::wstring RandomWide(Rng& rng, size_t cch) {
    static const wchar_t kChars[] = L"ab Z9%&=+:\"\r\n\u00e9\u20ac\u4e2d";
    std::wstring text;
    while (text.size() < cch) text += kChars[Pick(rng, 0, wcslen(kChars) - 1)];
    return text;
}

Case UrlEncodedCase(Rng& rng) {
    Case c;
    std::string body;
    if (Chance(rng, 60)) {
        size_t pairs = Pick(rng, 0, 20);
        for (size_t i = 0; i < pairs; ++i) {
            std::wstring name = RandomWide(rng, Pick(rng, 1, 10));
            std::wstring value = RandomWide(rng, Pick(rng, 0, 30));
            body += (i ? (Chance(rng, 80) ? "&" : "\r\n&") : "") + PercentEncode(rng, name, false) + "=" +
                    PercentEncode(rng, value, true);
            c.pairs.emplace_back(name, value);
        }
    } else {
        c.checkPairs = false;
        body = RandomText(rng, Pick(rng, 0, 600), std::string("%+&=\r\n\"a0 :\xC3\xFF\x80~") + '\0');
    }
    if (Chance(rng, 30)) {
        c.request.method = "GET";
        c.request.queryString = body;
    } else {
        c.request = Post("application/x-www-form-urlencoded", std::to_string(body.size()));
        c.delivered = body;
    }
    return c;
}

Case Generate(uint32_t seed) {
    Rng rng(seed);
    Case c = Chance(rng, 70) ? MultipartCase(rng) : UrlEncodedCase(rng);
    c.chunk = Chance(rng, 50) ? 0 : Pick(rng, 1, 5000);
    return c;
}

// Empty when the parse met every expectation, else what went wrong.
std::string Check(const Case& c, const plm::CCgiParamList& list, size_t consumed, size_t tempFiles) {
    if (list.Status() != 3900) return "status " + std::to_string(list.Status());
    if (consumed > plm::ParseContentLength(c.request.contentLength)) return "read past CONTENT_LENGTH";
    size_t files = 0;
    if (c.checkPairs) {
        Pairs got = PairsOf(list);
        if (got.size() != c.pairs.size()) return "pair count " + std::to_string(got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            if (got[i].first != c.pairs[i].first) return "name of pair " + std::to_string(i);
            bool isFile = i < c.isFilePair.size() && c.isFilePair[i];
            if (!isFile && got[i].second != c.pairs[i].second) return "value of pair " + std::to_string(i);
            if (!isFile) continue;
            std::string bytes = testsupport::ReadFileBytes(got[i].second);
            if (std::wstring(bytes.begin(), bytes.end()) != c.pairs[i].second)
                return "file of pair " + std::to_string(i);
            files += got[i].first == L"TempFileName";
        }
    }
    if (c.hasFilePart && tempFiles != files) return "temporary files left: " + std::to_string(tempFiles);
    return std::string();
}

TEST(RandomBodies, EveryParseEndsAndCompletePartsArriveWhole) {
    ServerDir server(L"random");
    const int bodies = testsupport::FuzzRounds(kBodies);
    std::printf("seed %u, %d bodies\n", kSeed, bodies);
    int failures = 0;
    double slowest = 0;
    for (int i = 0; i < bodies && failures < 3; ++i) {
        Case c = Generate(kSeed + static_cast<uint32_t>(i));
        MemoryInput input(c.delivered, c.chunk);
        plm::CCgiParamList list;
        auto start = std::chrono::steady_clock::now();
        plm::ParseRequest(c.request, input, server.Limits(), list);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        slowest = std::max(slowest, seconds);
        std::vector<std::wstring> temps = c.hasFilePart ? server.TempFiles() : std::vector<std::wstring>();
        std::string problem =
            seconds > kMaxParseSeconds ? "parse took too long" : Check(c, list, input.Consumed(), temps.size());
        if (!problem.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << kSeed << " + " << i << ": " << problem
                          << "\n  type: " << c.request.contentType.value_or("(none)")
                          << "\n  length: " << c.request.contentLength.value_or("(none)") << "\n  chunk: " << c.chunk
                          << "\n  query: " << Escaped(c.request.queryString.value_or(""))
                          << "\n  body: " << Escaped(c.delivered);
        }
        for (const std::wstring& name : temps) DeleteFileW((server.TempFolder() + L"\\" + name).c_str());
    }
    std::printf("slowest parse %.3f s\n", slowest);
}

}  // namespace
