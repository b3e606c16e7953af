// Parsing cost of URL-encoded bodies per pair: small against large (the
// parser's work per pair must not grow with the body), and against a floor
// measured in the same run, a bare loop doing only what any parser must.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "libCGIConsoleCommon/request/cgi_ParamParser.h"

namespace {

class BodyInput : public plm::ICgiInput {
public:
    explicit BodyInput(const std::string& body) : m_body(body) {}
    bool SwitchToBinary() override { return true; }
    size_t Read(void* buffer, size_t cbBuffer) override {
        size_t cb = std::min(cbBuffer, m_body.size() - m_pos);
        m_body.copy(static_cast<char*>(buffer), cb, m_pos);
        m_pos += cb;
        return cb;
    }

private:
    const std::string& m_body;
    size_t m_pos = 0;
};

std::string UrlEncodedBody(int pairs) {
    std::string body;
    for (int i = 0; i < pairs; ++i) {
        if (i) body += '&';
        body += "field" + std::to_string(i) + "=value+" + std::to_string(i) + "%2C%C3%A9";
    }
    return body;
}

double Seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

struct ParseRun {
    std::string body;
    plm::SCgiRequest request;
    plm::SCgiLimits limits;
    int pairs;
};

ParseRun MakeRun(int pairs) {
    ParseRun run;
    run.body = UrlEncodedBody(pairs);
    run.pairs = pairs;
    run.request.method = "POST";
    run.request.contentType = "application/x-www-form-urlencoded";
    run.request.contentLength = std::to_string(run.body.size());
    run.limits.maxPostSizeK = static_cast<int>(run.body.size() / 1024 + 1);
    return run;
}

double ProductSecondsPerPair(const ParseRun& run) {
    BodyInput input(run.body);
    plm::CCgiParamList list;
    const double start = Seconds();
    plm::ParseRequest(run.request, input, run.limits, list);
    const double seconds = Seconds() - start;
    if (list.PairCount() != static_cast<size_t>(run.pairs))
        std::printf("unexpected pair count %u\n", static_cast<unsigned>(list.PairCount()));
    return seconds / run.pairs;
}

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// The floor: the body read whole, split at '&' and '=', each field
// percent-decoded ('+' as a space) and converted to UTF-16 into one block of
// text with an offset per field. No limits, files, names or failures.
double FloorSecondsPerPair(const ParseRun& run) {
    BodyInput input(run.body);
    const double start = Seconds();
    std::string body(run.body.size(), '\0');
    body.resize(input.Read(&body[0], body.size()));
    std::wstring texts;
    texts.reserve(body.size() + 2 * static_cast<size_t>(run.pairs));
    std::vector<size_t> offsets;
    offsets.reserve(2 * static_cast<size_t>(run.pairs));
    std::string field;
    auto addField = [&](size_t from, size_t to) {
        field.clear();
        for (size_t i = from; i < to; ++i) {
            const char c = body[i];
            if (c == '%' && i + 2 < to) {
                field += static_cast<char>((HexValue(body[i + 1]) << 4) | HexValue(body[i + 2]));
                i += 2;
            } else {
                field += c == '+' ? ' ' : c;
            }
        }
        const size_t at = texts.size();
        const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, field.data(), static_cast<int>(field.size()),
                                            nullptr, 0);
        texts.resize(at + static_cast<size_t>(cch > 0 ? cch : 0) + 1);
        if (cch > 0)
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, field.data(), static_cast<int>(field.size()), &texts[at],
                                cch);
        texts.back() = L'\0';
        offsets.push_back(at);
    };
    for (size_t pos = 0; pos < body.size();) {
        size_t end = body.find('&', pos);
        if (end == std::string::npos) end = body.size();
        size_t eq = body.find('=', pos);
        if (eq > end) eq = end;
        addField(pos, eq);
        addField(eq < end ? eq + 1 : end, end);
        pos = end + 1;
    }
    const double seconds = Seconds() - start;
    if (offsets.size() != 2 * static_cast<size_t>(run.pairs)) std::printf("unexpected field count\n");
    return seconds / run.pairs;
}

}  // namespace

void MeasureCgiParsing() {
    const ParseRun small = MakeRun(20000), large = MakeRun(200000);
    std::vector<double> smallRuns, largeRuns, productRuns, floorRuns;
    for (int r = 0; r < 9; ++r) smallRuns.push_back(ProductSecondsPerPair(small));
    for (int r = 0; r < 5; ++r) largeRuns.push_back(ProductSecondsPerPair(large));
    // The floor interleaved with the product, so that drift of the machine affects both alike.
    for (int r = 0; r < 5; ++r) {
        productRuns.push_back(ProductSecondsPerPair(large));
        floorRuns.push_back(FloorSecondsPerPair(large));
    }
    const double perPairSmall = Median(smallRuns), perPairLarge = Median(largeRuns);
    const double product = Median(productRuns), floor = Median(floorRuns);
    std::printf("%-52s %12.3f us %12.3f us %10.2fx   %s\n", "(5) URL-encoded parse per pair, 200,000 vs 20,000",
                perPairLarge * 1e6, perPairSmall * 1e6, perPairLarge / perPairSmall, "target <= 1.5x");
    std::printf("%-52s %12.3f us %12.3f us %10.2fx   %s\n", "    per pair at 200,000 vs bare split+decode+UTF-16",
                product * 1e6, floor * 1e6, product / floor, "aim <= 2x");
    std::fflush(stdout);
}
