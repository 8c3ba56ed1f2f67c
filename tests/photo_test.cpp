// photo end to end: the worked examples, a seeded comparison with a plain-arithmetic
// reference, and bad inputs, each leaving an earlier photo.sol exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>

#include "support.hpp"

namespace {

const std::string photo = test::bin("photo");

std::string run_photo(const std::string& input) {
    test::TempDir dir;
    dir.write("PHOTO.DAT", input);
    test::RunResult r = test::run(photo, dir.path());
    EXPECT_EQ(r.status, 0) << input << "\n" << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"PHOTO.DAT", "photo.sol"}));
    return dir.read("photo.sol");
}

TEST(Photo, WorkedExamples) {
    struct {
        std::string input;
        const char* result;
    } cases[] = {
        {"7,2.54,2.54,1000", "1000\n"},            // W = H = 1000, X = 8
        {"7\n2.54\n2.54\n1000\n", "1000\n"},       // line ends as separators
        {"7 , 2.54\r\n2.54,1000", "1000\n"},       // mixed, CRLF
        {"8,2.54,2.54,1000", "2000\n"},            // A = 8 gives X = 16
        {"0,2.54,2.54,1000", "125\n"},             // X = 1
        {"-3,2.54,2.54,1000", "125\n"},            // below 1: X = 1
        {"1,2.54,2.54,1000", "250\n"},             // A = 1 gives 2
        {"24,2.54,2.54,100", "40\n"},              // X = 32
        {"256,2.54,2.54,100", "640\n"},            // X = 512
        {"24,10,15,0", "0\n"},                     // D = 0 gives 0
        {"24,10,15,300", "8370.01674003348\n"},    // 1181.1... * 1771.6... * 32 / 8000, 15 digits
        {"25,48,63,61", "6976.44243288486\n"},     // B / 2.54 * D (B * D / 2.54 gives ...487)
        {"25,63,48,61", "6976.44243288486\n"},     // and C / 2.54 * D
        {"24,,15,300", "0\n"},                     // an Empty B counts as 0
        {"1e9,2.54,2.54,1", "134217.728\n"},       // X = 2^30, a Long
        {"7,2.54,2.54,1000,junk,more", "1000\n"},  // what follows the fourth field is not read
        {"\xef\xbb\xbf"
         "7,2.54,2.54,1000\r\n",
         "1000\n"},                                                 // a UTF-8 byte-order mark
        {test::utf16(u"7,2.54\r\n2.54,1000\r\n"), "1000\n"},        // UTF-16, little-endian
        {test::utf16(u"7,2.54,2.54,1000", false), "1000\n"},        // and big-endian
        {test::utf16(u"7,2.54,2.54,1000\r\n\xdc00"), "1000\n"},     // what follows is never decoded
        {test::utf16(u"7,2.54,2.54,1000\r\n") + "\x01", "1000\n"},  // nor a stray byte
        {test::utf16(u"7,2.54,2.54,1000") + "\x1a", "1000\n"},      // a one-byte end mark ends UTF-16
        {"7,2.54,2.54,1000\x1a", "1000\n"},                         // an end-of-file mark
        {"7,2.54,2.54,1000\r\n\x1a\xff\xfe garbage", "1000\n"},     // nothing after it is read
        {"\"7\",\"2.54\",\"2.54\",\"1000\"", "1000\n"},             // quoted numbers
        // Each product and quotient rounded once, as a Double (rounded twice, on the x87: ...646).
        {"6,8432.86414002,0.5743,709", "377345.310370647\n"},
        // W just below the largest Double (rounded twice, past it, on the x87: error 6).
        {"3,6.120093504202284e+303,8.511037542387648e-06,74609", "2.24711641857789e+304\n"},
        // A long mantissa with an exponent read as the nearest Double, not one below it (...585).
        {"7,749172067250578e15,1.28,1", "1.48636035414586e+26\n"},
    };
    for (auto& c : cases) EXPECT_EQ(run_photo(c.input), test::lines(c.result)) << c.input;
}

// The same computation in plain double arithmetic, printed by printf.
std::string reference(double a, double b, double c, double d) {
    double w = b / 2.54 * d, h = c / 2.54 * d, x = 1;
    while (!(a < x)) x *= 2;
    double r = w * h * x / 8 / 1000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g\n", r == 0 ? 0.0 : r);
    return buf;
}

TEST(Photo, AgreesWithPlainArithmetic) {
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* separators[] = {",", "\n", " , ", "\r\n", "\t"};
    int runs = test::windows() ? 40 : 200;  // a Windows program under Wine starts slowly
    for (int n = 0; n < runs; ++n) {
        double a = pick(0, 3) == 0 ? pick(-5, 5) + pick(0, 99) / 100.0 : pick(-2, 70000);
        double b = pick(0, 100000) / 1000.0, c = pick(0, 100000) / 100.0, d = pick(0, 4800);
        char text[200];
        std::snprintf(text, sizeof text, "%.17g%s%.17g%s%.17g%s%.17g\n", a, separators[pick(0, 4)], b,
                      separators[pick(0, 4)], c, separators[pick(0, 4)], d);
        EXPECT_EQ(run_photo(text), test::lines(reference(a, b, c, d))) << text;
    }
}

// What protected the earlier result protects the new one: its permission bits and access list on
// POSIX (not the folder's default list, which a new file would take); on Windows its attributes
// (hidden, system and the like) and its access list, where a new result is an ordinary file, not
// hidden as its temporary was while it was written.
TEST(Photo, KeepsTheModeOfAnEarlierResult) {
    struct {
        int mode;                // POSIX: the earlier result's mode; -1: a Windows row
        std::string attributes;  // Windows: the earlier result's attributes, in hex; empty: no earlier result
        std::string access;      // and its access list, as SDDL (POSIX: setfacl's, "d:" for the folder's default)
        std::string after;       // the new result's attributes
    } cases[] = {
        {0640, "", "", ""},
        {0640, "", "u:65534:---", ""},   // someone the runner shut out stays out
        {0640, "", "d:u:65534:rw", ""},  // and the folder's default list lets no one in

        {-1, "", "", "20"},                   // new: an ordinary file
        {-1, "26", "", "26"},                 // hidden and system
        {-1, "22", "", "22"},                 // hidden alone
        {-1, "20", "D:P(A;;FA;;;BA)", "20"},  // an access list of its own
    };
    // A file's access list, as getfacl gives it.
    auto list_of = [](const std::string& file) {
        test::RunOptions options;
        options.args = {"-c", file};
        return test::run("/usr/bin/getfacl", "/", options).out;
    };
    // What the other program says of a file in dir.
    auto bystander = [](const test::TempDir& dir, std::vector<std::string> args) {
        test::RunOptions options;
        options.args = std::move(args);
        return test::run(test::bin("bystander"), dir.path(), options).out;
    };
    for (auto& c : cases) {
        if (test::windows() == (c.mode >= 0)) continue;
        SCOPED_TRACE((c.mode >= 0 ? std::to_string(c.mode) : c.attributes) + " " + c.access);
        test::TempDir dir;
        dir.write("PHOTO.DAT", "7,2.54,2.54,1000");
        std::string access;
        if (c.mode >= 0) {
            dir.write("photo.sol", "earlier\n");
            ::chmod((dir / "photo.sol").c_str(), static_cast<mode_t>(c.mode));
            if (!c.access.empty()) {
                if (!test::native()) continue;  // a build of another machine's carries no lists
                bool folder = c.access.rfind("d:", 0) == 0;
                std::string set = folder ? "setfacl -d -m " + c.access.substr(2) + " '" + dir.path() + "'"
                                         : "setfacl -m " + c.access + " '" + (dir / "photo.sol") + "'";
                if (std::system((set + " 2>/dev/null").c_str()) != 0) {
                    std::cout << "no access lists here: " << c.access << " skipped\n";
                    continue;
                }
                access = list_of(dir / "photo.sol");
            }
        } else if (!c.attributes.empty()) {
            dir.write("photo.sol", "earlier\n");
            if (!c.access.empty()) access = bystander(dir, {"access", "photo.sol", c.access});
            EXPECT_EQ(bystander(dir, {"attributes", "photo.sol", c.attributes}), c.attributes + "\n");
        }
        EXPECT_EQ(test::run(photo, dir.path()).status, 0);
        EXPECT_EQ(dir.read("photo.sol"), test::lines("1000\n"));
        if (c.mode >= 0) {
            struct stat st {};
            ::stat((dir / "photo.sol").c_str(), &st);
            EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(c.mode));
            if (!access.empty()) {
                EXPECT_EQ(list_of(dir / "photo.sol"), access);
            }
            continue;
        }
        EXPECT_EQ(bystander(dir, {"attributes", "photo.sol"}), c.after + "\n");
        if (!access.empty()) {
            EXPECT_EQ(bystander(dir, {"access", "photo.sol"}), access);
            test::TempDir fresh;  // not what a new result gets
            fresh.write("PHOTO.DAT", "7,2.54,2.54,1000");
            EXPECT_EQ(test::run(photo, fresh.path()).status, 0);
            EXPECT_NE(bystander(fresh, {"access", "photo.sol"}), access);
        }
    }
}

// Reports in the user's language, each run under a locale the test makes: a missing input, with
// the system's own words in that language too; a field in the language's own script, shown as
// written; a link that another user could have planted (where the run is root's, who can plant
// one). C, C.UTF-8 and a language with no catalog read in English, the system's words with them.
TEST(Photo, ReportsInTheUsersLanguage) {
    if (!test::native() && !test::windows())
        GTEST_SKIP() << "a program of another architecture, its C library reading this machine's locales";
    const std::string photo = test::bin("photo");
    struct {
        const char* locale;
        const char* field;
        std::string missing, not_a_number, planted;  // after "photo: "; * stands for the system's words
    } rows[] = {
        {"C", "café", "run-time error 53: File not found: opening PHOTO.DAT: *",
         "run-time error 13: Type mismatch: field 1 of PHOTO.DAT is \"café\", not a number",
         "run-time error 70: Permission denied: photo.sol is a link of another user in a directory others can write; "
         "not followed"},
        {"C.UTF-8", "café", "run-time error 53: File not found: opening PHOTO.DAT: *",
         "run-time error 13: Type mismatch: field 1 of PHOTO.DAT is \"café\", not a number", ""},
        {"nl_NL.UTF-8", "één", "run-time error 53: File not found: opening PHOTO.DAT: *",
         "run-time error 13: Type mismatch: field 1 of PHOTO.DAT is \"één\", not a number", ""},
        {"fr_FR.UTF-8", "café", "erreur d'exécution 53 : Fichier introuvable : ouverture de PHOTO.DAT : *",
         "erreur d'exécution 13 : Incompatibilité de type : champ 1 de PHOTO.DAT vaut « café », qui n'est pas un "
         "nombre",
         "erreur d'exécution 70 : Permission refusée : photo.sol est un lien d'un autre utilisateur dans un répertoire "
         "où d'autres peuvent écrire ; non suivi"},
        {"de_DE.UTF-8", "Größe", "Laufzeitfehler 53: Datei nicht gefunden: beim Öffnen von PHOTO.DAT: *",
         "Laufzeitfehler 13: Typen unverträglich: Feld 1 von PHOTO.DAT ist „Größe“, keine Zahl",
         "Laufzeitfehler 70: Zugriff verweigert: photo.sol ist eine Verknüpfung eines anderen Benutzers in einem für "
         "andere schreibbaren Verzeichnis; nicht verfolgt"},
        {"es_ES.UTF-8", "año", "error en tiempo de ejecución 53: Fichero no encontrado: al abrir PHOTO.DAT: *",
         "error en tiempo de ejecución 13: Tipos incompatibles: campo 1 de PHOTO.DAT es «año», que no es un número",
         "error en tiempo de ejecución 70: Permiso denegado: photo.sol es un enlace de otro usuario en un directorio "
         "donde otros pueden escribir; no se sigue"},
        {"it_IT.UTF-8", "perché", "errore di esecuzione 53: File non trovato: apertura di PHOTO.DAT: *",
         "errore di esecuzione 13: Tipo non corrispondente: campo 1 di PHOTO.DAT è «perché», che non è un numero",
         "errore di esecuzione 70: Permesso negato: photo.sol è un collegamento di un altro utente in una directory "
         "scrivibile da altri; non seguito"},
        {"pt_BR.UTF-8", "não", "erro em tempo de execução 53: Arquivo não encontrado: erro ao abrir PHOTO.DAT: *",
         "erro em tempo de execução 13: Tipos incompatíveis: campo 1 de PHOTO.DAT é “não”, não um número",
         "erro em tempo de execução 70: Permissão negada: photo.sol é um link simbólico de outro usuário em um "
         "diretório em que outros usuários podem escrever; não seguido"},
        {"ru_RU.UTF-8", "пять", "ошибка времени выполнения 53: Файл не найден: не удалось открыть PHOTO.DAT: *",
         "ошибка времени выполнения 13: Несоответствие типов: поле 1 файла PHOTO.DAT содержит «пять», а не число",
         "ошибка времени выполнения 70: Отказано в доступе: photo.sol — символьная ссылка другого пользователя в "
         "каталоге, открытом для записи другим пользователям; переход по ней не выполняется"},
        {"ja_JP.UTF-8", "五つ", "実行時エラー 53: ファイルが見つかりません: PHOTO.DAT を開けません: *",
         "実行時エラー 13: 型の不一致: PHOTO.DAT のフィールド 1 は「五つ」で、数値ではありません",
         "実行時エラー 70: アクセス拒否: photo.sol "
         "は別のユーザーのシンボリックリンクで、他のユーザーも書き込めるディレクトリにあるため、たどりません"},
        {"zh_CN.UTF-8", "五个", "运行时错误 53: 文件未找到: 无法打开 PHOTO.DAT: *",
         "运行时错误 13: 类型不匹配: PHOTO.DAT 的字段 1 为“五个”，不是数字",
         "运行时错误 70: 权限被拒绝: photo.sol 是其他用户的符号链接，位于其他用户可写的目录中；不予跟随"},
    };
    std::string english_words;  // the system's words for a missing file, in English
    for (const auto& row : rows) {
        SCOPED_TRACE(row.locale);
        test::RunOptions options;
        options.environment = test::locale(row.locale);
        test::TempDir dir;
        test::RunResult r = test::run(photo, dir.path(), options);
        EXPECT_EQ(r.status, 53);
        EXPECT_TRUE(test::is_line(r.err, "photo: " + row.missing, test::line_end())) << r.err;
        std::string words = r.err.substr(r.err.rfind(": ") + 2);
        if (english_words.empty()) english_words = words;
        bool english = row.missing.rfind("run-time error", 0) == 0;
        EXPECT_EQ(words == english_words, english) << r.err;

        dir.write("PHOTO.DAT", std::string(row.field) + ",2.54,2.54,1000");
        r = test::run(photo, dir.path(), options);
        EXPECT_EQ(r.err, "photo: " + row.not_a_number + test::line_end());

        if (row.planted.empty() || test::windows() || ::geteuid() != 0) continue;
        ASSERT_EQ(::mkdir((dir / "shared").c_str(), 01777), 0);
        ::chmod((dir / "shared").c_str(), 01777);
        ASSERT_EQ(::symlink("../kept.sol", (dir / "shared/photo.sol").c_str()), 0);
        ASSERT_EQ(::lchown((dir / "shared/photo.sol").c_str(), 65534, 65534), 0);
        dir.write("shared/PHOTO.DAT", "7,2.54,2.54,1000");
        r = test::run(photo, dir / "shared", options);
        EXPECT_EQ(r.err, "photo: " + row.planted + test::line_end());
    }
}

// The catalogs beside the program are read where no one else could have written them, and a
// translation is taken only where it keeps every part of its sentence: a report always says its
// error's number and name. A catalog that drops them has that sentence shown in English.
TEST(Photo, ACatalogCannotChangeWhatAReportSays) {
    if (!test::native() || test::windows()) GTEST_SKIP() << "the catalogs beside a POSIX program of this machine";
    struct {
        const char* name;
        const char* shared;  // the folder an access list shares with another user, if any
        std::string says;
    } rows[] = {
        {"a catalog whose report drops its parts", nullptr, "run-time error 53: Datei nicht gefunden: "},
        {"in a folder an access list shares", "share/locale", "run-time error 53: File not found: "},
        {"in a language's folder an access list shares", "share/locale/de", "run-time error 53: File not found: "}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir copy, dir;
        ::chmod(copy.path().c_str(), 0755);
        std::filesystem::create_directories(copy / "share/locale/de/LC_MESSAGES");
        std::filesystem::create_directories(copy / "bin");
        copy.write("bin/photo", test::TempDir::read_file(test::bin("photo")));
        ::chmod((copy / "bin/photo").c_str(), 0755);
        copy.write("de.po",
                   "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\nLanguage: de\\n\"\n\n"
                   "msgid \"run-time error {number}: {error}\"\nmsgstr \"OK\"\n\n"
                   "msgid \"File not found\"\nmsgstr \"Datei nicht gefunden\"\n");
        ASSERT_EQ(
            std::system(
                ("msgfmt -o '" + copy / "share/locale/de/LC_MESSAGES/trio.mo" + "' '" + copy / "de.po" + "'").c_str()),
            0);
        if (row.shared &&
            std::system(("setfacl -m u:65534:rwx '" + copy / row.shared + "' 2>/dev/null").c_str()) != 0) {
            std::cout << "no access lists here: " << row.name << " skipped\n";
            continue;
        }
        test::RunOptions options;
        options.environment = test::locale("de_DE.UTF-8");
        test::RunResult r = test::run(copy / "bin/photo", dir.path(), options);
        EXPECT_EQ(r.status, 53);
        EXPECT_EQ(r.err.substr(0, 7 + row.says.size()), "photo: " + row.says) << r.err;
    }
}

// A result name that is a symbolic link: the file it leads to gets the result, replaced whole
// beside itself; the link stays. A failed run leaves both as they were, and a link that another
// user could have planted (theirs, in a directory that others than the runner can write: a
// sticky or a group one, or their own) is not followed.
TEST(Photo, ResultThroughASymbolicLink) {
    if (test::windows()) GTEST_SKIP() << "Wine shows a POSIX link as the file it leads to";
    const std::string planted =
        "Permission denied: photo.sol is a link of another user in a directory others can write; not followed";
    struct {
        const char* name;
        const char* target;  // the link's text, from the run's directory
        bool earlier;        // the target holds an earlier result
        std::string input;   // empty: no PHOTO.DAT
        int status;
        std::string says;  // the report, after "photo: run-time error <status>: "
        long size_limit = -1;
        bool planted = false;            // the link belongs to nobody, in a sticky world-writable directory
        bool planted_further = false;    // the link leads to one that nobody planted in a sticky directory
        int planted_in = -1;             // the mode of the directory of nobody's link, if not 01777
        bool nobodys_directory = false;  // and the directory is nobody's own
        // The directory of nobody's link is of the runner's own group, with write for it, and shared
        // with nobody by: "" nothing, "list" an access list, "first group" nobody's having the group
        // as their first (a user database that says so, in a mount namespace of the run's own).
        const char* runners_group = nullptr;
    } cases[] = {
        {"to a file in another directory", "../out/kept.sol", true, "7,2.54,2.54,1000", 0, ""},
        {"to nowhere yet", "../out/new.sol", false, "7,2.54,2.54,1000", 0, ""},
        {"to a file, the input missing", "../out/kept.sol", true, "", 53,
         "File not found: opening PHOTO.DAT: No such file or directory"},
        {"to nowhere, the write failing", "../out/new.sol", false, "7,2.54,2.54,1000", 57,
         "Device I/O error: writing photo.sol: File too large", 1},
        {"to a directory", "../out", false, "7,2.54,2.54,1000", 75,
         "Path/File access error: photo.sol leads to ../out, which is a directory"},
        {"to a device", "/dev/null", false, "7,2.54,2.54,1000", 75,
         "Path/File access error: photo.sol leads to /dev/null, which is not a regular file"},
        {"planted by another user", "../out/kept.sol", true, "7,2.54,2.54,1000", 70, planted, -1, true},
        {"planted in a sticky group directory", "../out/kept.sol", true, "7,2.54,2.54,1000", 70, planted, -1, true,
         false, 01770},
        {"planted in a group directory", "../out/kept.sol", true, "7,2.54,2.54,1000", 70, planted, -1, true, false,
         02770},
        {"planted in the other user's own directory", "../out/kept.sol", true, "7,2.54,2.54,1000", 70, planted, -1,
         true, false, 0755, true},
        {"another user's, in a directory only the runner can write", "../out/kept.sol", true, "7,2.54,2.54,1000", 0, "",
         -1, true, false, 0755},
        {"to a link planted by another user", "../shared/next", true, "7,2.54,2.54,1000", 70,
         "Permission denied: photo.sol leads to ../shared/next, which " + planted.substr(planted.find("is a")), -1,
         false, true},
        {"to a link in the other user's own directory", "../shared/next", true, "7,2.54,2.54,1000", 70,
         "Permission denied: photo.sol leads to ../shared/next, which " + planted.substr(planted.find("is a")), -1,
         false, true, 0755, true},
        {"through a directory planted by another user", "../shared/to-out/kept.sol", true, "7,2.54,2.54,1000", 70,
         "Permission denied: photo.sol leads to ../shared/to-out, which " + planted.substr(planted.find("is a")), -1,
         false, true},
        {"another user's, in a folder of the runner's own group", "../out/kept.sol", true, "7,2.54,2.54,1000", 0, "",
         -1, true, false, 0775, false, ""},
        {"planted in a folder of the runner's group that an access list shares", "../out/kept.sol", true,
         "7,2.54,2.54,1000", 70, planted, -1, true, false, 0775, false, "list"},
        {"planted in a folder of a group that is another user's first", "../out/kept.sol", true, "7,2.54,2.54,1000", 70,
         planted, -1, true, false, 0775, false, "first group"},
        {"to itself", "photo.sol", false, "7,2.54,2.54,1000", 75,
         "Path/File access error: photo.sol leads through more than 40 links"},
        {"through a linked directory", "../to-out/kept.sol", true, "7,2.54,2.54,1000", 0, ""},
        {"through a linked directory and back", "../to-out/../out/kept.sol", true, "7,2.54,2.54,1000", 0, ""},
        {"to a name with a line end", "../out/a\nb/new.sol", false, "7,2.54,2.54,1000", 53,
         "File not found: opening photo.sol leads to ../out/a\\x0ab: No such file or directory"},
    };
    for (auto& c : cases) {
        if ((c.planted || c.planted_further) && ::geteuid() != 0) continue;  // only root can give a link away
        // A build of another machine's reads no access lists, and takes group bits for others'.
        if (c.runners_group && !test::native()) continue;
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        mode_t holding = c.planted_in >= 0 ? static_cast<mode_t>(c.planted_in) : 01777;  // nobody's link's directory
        ASSERT_EQ(::mkdir((dir / "run").c_str(), c.planted ? holding : 0755), 0);
        ::chmod((dir / "run").c_str(), c.planted ? holding : 0755);
        if (c.planted && c.nobodys_directory) {
            ASSERT_EQ(::chown((dir / "run").c_str(), 65534, 65534), 0);
        }
        // A group directory's group is a team's, not the runner's own.
        if (c.planted && (holding & S_IWGRP) && !c.runners_group) {
            ASSERT_EQ(::chown((dir / "run").c_str(), -1, 65534), 0);
        }
        if (c.runners_group && std::strcmp(c.runners_group, "list") == 0 &&
            std::system(("setfacl -m u:65534:rwx '" + (dir / "run") + "' 2>/dev/null").c_str()) != 0) {
            std::cout << "no access lists here: " << c.name << " skipped\n";
            continue;
        }
        ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
        ASSERT_EQ(::symlink("out", (dir / "to-out").c_str()), 0);
        if (c.earlier) {
            dir.write("out/kept.sol", "earlier\n");
            ::chmod((dir / "out/kept.sol").c_str(), 0640);
        }
        if (!c.input.empty()) dir.write("run/PHOTO.DAT", c.input);
        ASSERT_EQ(::symlink(c.target, (dir / "run/photo.sol").c_str()), 0);
        if (c.planted) {
            ASSERT_EQ(::lchown((dir / "run/photo.sol").c_str(), 65534, 65534), 0);
        }
        if (c.planted_further) {
            ASSERT_EQ(::mkdir((dir / "shared").c_str(), holding), 0);
            ::chmod((dir / "shared").c_str(), holding);
            if (holding & S_IWGRP) {
                ASSERT_EQ(::chown((dir / "shared").c_str(), -1, 65534), 0);
            }
            for (const char* link : {"shared/next", "shared/to-out"}) {
                ASSERT_EQ(::symlink(std::strcmp(link, "shared/next") == 0 ? "../out/kept.sol" : "../out",
                                    (dir / link).c_str()),
                          0);
                ASSERT_EQ(::lchown((dir / link).c_str(), 65534, 65534), 0);
            }
            if (c.nobodys_directory) {
                ASSERT_EQ(::chown((dir / "shared").c_str(), 65534, 65534), 0);
            }
        }
        test::RunOptions options;
        if (c.size_limit >= 0) options.file_size_limit = c.size_limit;
        std::string program = photo;
        if (c.runners_group && std::strcmp(c.runners_group, "first group") == 0) {
            dir.write("passwd", test::TempDir::read_file("/etc/passwd") +
                                    "other:x:4242:" + std::to_string(::getegid()) + "::/nonexistent:/bin/false\n");
            options.args = {"-m", "sh", "-c", "mount --bind \"$1\" /etc/passwd && exec \"$0\"", photo, dir / "passwd"};
            program = "/usr/bin/unshare";
            test::RunOptions probe;
            probe.args = {"-m", "true"};
            if (test::run(program, dir.path(), probe).status != 0) {
                std::cout << "no mount namespace here: " << c.name << " skipped\n";
                continue;
            }
        }
        test::RunResult r = test::run(program, dir / "run", options);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status) {  // one line, whatever the names hold
            EXPECT_TRUE(test::is_line(r.err, "photo: run-time error " + std::to_string(c.status) + ": " + c.says))
                << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        char text[256] = {};
        EXPECT_EQ(::readlink((dir / "run/photo.sol").c_str(), text, sizeof text - 1), std::strlen(c.target));
        EXPECT_STREQ(text, c.target);  // the link stays as it was
        std::vector<std::string> out = {"kept.sol"};
        if (c.status == 0 && !c.earlier) out = {"new.sol"};
        if (c.status != 0 && !c.earlier) out = {};
        EXPECT_EQ(test::entries(dir / "out"), out);  // no temporary file left, nothing created in vain
        EXPECT_EQ(test::entries(dir / "run").size(), c.input.empty() ? 1u : 2u);
        if (c.earlier) {
            EXPECT_EQ(test::TempDir::read_file(dir / "out/kept.sol"), c.status == 0 ? "1000\n" : "earlier\n");
            struct stat st {};
            ::stat((dir / "out/kept.sol").c_str(), &st);
            EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced result keeps its mode
        } else if (c.status == 0) {
            EXPECT_EQ(test::TempDir::read_file(dir / "out/new.sol"), "1000\n");
        }
    }
}

}  // namespace
