// Translations on POSIX systems: the C library's gettext, reading the catalog
// compiled from po/bg.po. A program run from its build folder finds the one built
// beside it; an installed one finds share/locale beside its bin folder, then the
// folder it was built for.
#include <langinfo.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <string>

#include "translate.h"

namespace {

const char kDomain[] = "schools";

bool isFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string catalogFolder() {
    char self[4096];
    ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder(self, size > 0 ? static_cast<std::size_t>(size) : 0);
    folder.erase(folder.find_last_of('/') + 1);
    if (!folder.empty()) {
        for (const char* beside : {"locale", "../share/locale"}) {
            if (isFolder(folder + beside)) {
                return folder + beside;
            }
        }
    }
    return SCHOOLS_LOCALEDIR;
}

}  // namespace

void startTranslations() {
    // The character set too, which gettext converts the catalog's UTF-8 to.
    std::setlocale(LC_CTYPE, "");
    const char* chosen = std::setlocale(LC_MESSAGES, "");
    std::string messages = chosen ? chosen : "C";  // before setlocale reuses it
    // C.UTF-8 is the C locale's texts, whatever LANGUAGE says.
    if (messages.compare(0, 2, "C.") == 0) {
        std::setlocale(LC_MESSAGES, "C");
    }
    bindtextdomain(kDomain, catalogFolder().c_str());
    // Only the messages' locale set (LC_MESSAGES=bg_BG.UTF-8): the texts in the
    // character set it names rather than turned into ASCII question marks.
    std::size_t dot = messages.find('.');
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0 && dot != std::string::npos) {
        bind_textdomain_codeset(kDomain,
                                messages.substr(dot + 1, messages.find('@') - dot - 1).c_str());
    }
}

const char* translate(const char* text) {
    return dgettext(kDomain, text);
}
