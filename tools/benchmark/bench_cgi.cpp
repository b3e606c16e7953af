// Parsing cost of URL-encoded bodies per pair, small against large: the
// parser's work per pair must not grow with the body.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "libCGIConsoleCommon/cgi_ParamParser.h"

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

double SecondsPerPair(int pairs, int runs) {
    std::string body = UrlEncodedBody(pairs);
    plm::SCgiRequest request;
    request.method = "POST";
    request.contentType = "application/x-www-form-urlencoded";
    request.contentLength = std::to_string(body.size());
    plm::SCgiLimits limits;
    limits.maxPostSizeK = static_cast<int>(body.size() / 1024 + 1);
    std::vector<double> samples;
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    for (int r = 0; r < runs; ++r) {
        BodyInput input(body);
        plm::CCgiParamList list;
        QueryPerformanceCounter(&start);
        plm::ParseRequest(request, input, limits, list);
        QueryPerformanceCounter(&stop);
        if (list.PairCount() != static_cast<size_t>(pairs))
            std::printf("unexpected pair count %u\n", static_cast<unsigned>(list.PairCount()));
        samples.push_back(static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart / pairs);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

}  // namespace

void MeasureCgiParsing() {
    double small = SecondsPerPair(20000, 9);
    double large = SecondsPerPair(200000, 5);
    std::printf("%-52s %12.3f us %12.3f us %10.2fx   %s\n", "(5) URL-encoded parse per pair, 200,000 vs 20,000",
                large * 1e6, small * 1e6, large / small, "target <= 1.5x");
    std::fflush(stdout);
}
