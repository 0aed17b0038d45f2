// Translations on POSIX systems: the C library's gettext, reading the catalog
// compiled from po/bg.po. A program run from its build folder finds the one built
// beside it; an installed one finds share/locale beside its bin folder, then the
// folder it was built for. Every catalog of that folder is checked whole first, and
// a translation is used only as a format of the original's directives.
#include <dirent.h>
#include <langinfo.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text/mo_catalog.h"
#include "translate.h"

namespace {

const char kDomain[] = "schools";
// Far beyond the catalog of every text the program has.
constexpr long kLargestCatalog = 1 << 24;
bool catalogsSound = false;

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

// Whether the file, if there is one, is a catalog within its bytes: the C library
// would read beyond them.
bool soundCatalog(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        return true;  // none in this language
    }
    std::vector<char> bytes;
    long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    if (size >= 0 && size <= kLargestCatalog && std::fseek(file, 0, SEEK_SET) == 0) {
        bytes.resize(static_cast<std::size_t>(size));
        size = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size() ? size : -1;
    }
    std::fclose(file);
    MoCatalog catalog;
    return size >= 0 && size <= kLargestCatalog &&
           openMoCatalog(bytes.data(), bytes.size(), &catalog);
}

// Each language's catalog in the folder, as gettext would choose among them.
bool soundCatalogs(const std::string& folder) {
    DIR* languages = opendir(folder.c_str());
    bool sound = true;
    while (const dirent* language = languages ? readdir(languages) : nullptr) {
        if (language->d_name[0] != '.') {
            sound = sound && soundCatalog(folder + "/" + language->d_name + "/LC_MESSAGES/" +
                                          kDomain + ".mo");
        }
    }
    if (languages) {
        closedir(languages);
    }
    return sound;
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
    std::string folder = catalogFolder();
    catalogsSound = soundCatalogs(folder);
    if (!catalogsSound) {
        return;
    }
    bindtextdomain(kDomain, folder.c_str());
    // Only the messages' locale set (LC_MESSAGES=bg_BG.UTF-8): the texts in the
    // character set it names rather than turned into ASCII question marks.
    std::size_t dot = messages.find('.');
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0 && dot != std::string::npos) {
        bind_textdomain_codeset(kDomain,
                                messages.substr(dot + 1, messages.find('@') - dot - 1).c_str());
    }
}

const char* translate(const char* text) {
    const char* translation = catalogsSound ? dgettext(kDomain, text) : text;
    return translation == text || sameDirectives(text, translation) ? translation : text;
}
