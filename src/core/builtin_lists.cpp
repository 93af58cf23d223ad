#include "core/builtin_lists.h"

#include <cstddef>

#if defined(_WIN32)
#define BRISKO_RODATA_SECTION ".section .rdata,\"dr\"\n"
#define BRISKO_PREVIOUS_SECTION ".text\n"
#else
#define BRISKO_RODATA_SECTION ".pushsection .rodata\n"
#define BRISKO_PREVIOUS_SECTION ".popsection\n"
#endif
__asm__(BRISKO_RODATA_SECTION
        ".balign 8\n"
        "brisko_apls_dat_begin:\n"
        ".incbin \"" BRISKO_DATA_DIR
        "/apls.dat\"\n"
        "brisko_apls_dat_end:\n"
        ".byte 0\n" BRISKO_PREVIOUS_SECTION);
extern const char kAplsDatBegin[] __asm__("brisko_apls_dat_begin");
extern const char kAplsDatEnd[] __asm__("brisko_apls_dat_end");

namespace brisko {

std::string_view builtInAplsDat() {
    return {kAplsDatBegin, static_cast<size_t>(kAplsDatEnd - kAplsDatBegin)};
}

}  // namespace brisko
