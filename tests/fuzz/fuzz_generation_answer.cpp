// Whatever a server answers to a generation request, the caller gets exactly one of SQL
// and an error sentence, and the sentence is never empty. Input: two bytes that choose a
// status code from 100 to 599, then the body.
#include "server/APIManager.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int status = 100 + ((data[0] << 8) | data[1]) % 500;
    const QByteArray body(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    const APIManager::Answer answer = APIManager::interpretGenerationAnswer(status, body);
    if (answer.sql.has_value() == !answer.error.isEmpty()) {
        std::fprintf(stderr, "status %d: %s\n", status,
                     answer.sql ? "both SQL and an error" : "neither SQL nor an error");
        std::abort();
    }
    return 0;
}
