// The operator's guide quotes the program's texts in «…» and shows its log in
// ``` blocks; every quotation must still be what the program says.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), {}};
}

// What a quotation may be: the program's texts one after another, and what it
// fills in (a number with its padding, or "…") between them. A text is a
// string literal, or a piece of one between its printf conversions or blanks
// ("{}").
std::regex Grammar(const std::set<std::string>& Literals) {
    static const std::regex Conversion(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?[hlLzjt]*[diouxXcsfeg%]|\{\})");
    static const std::regex Special(R"([.^$|()\[\]{}*+?\\])");
    std::string Texts = "…|-?[0-9A-F]+ *";
    for (const std::string& Literal : Literals)
        for (std::sregex_token_iterator P(Literal.begin(), Literal.end(), Conversion, -1), End;
             P != End; ++P)
            if (P->length() > 0)
                Texts += "|" + std::regex_replace(P->str(), Special, "\\$&");
    return std::regex("(?:" + Texts + ")+");
}

// The string literals of the program's sources, comments left out.
std::set<std::string> ProgramLiterals() {
    std::string Sources;
    for (const char* Folder : {"app", "driver", "link", "timeout"})
        for (const auto& Entry :
             fs::recursive_directory_iterator(fs::path(ORMANT_SOURCE_DIR) / Folder))
            if (const auto Ext = Entry.path().extension();
                Ext == ".cpp" || Ext == ".h" || Ext == ".rc")
                Sources += ReadFile(Entry.path()) + "\n";
    static const std::regex Token(
        R"re(//[^\n]*|/\*[\s\S]*?\*/|'(?:[^'\\\n]|\\.)*'|"((?:[^"\\\n]|\\.)*)")re");
    std::set<std::string> Result;
    for (std::sregex_iterator M(Sources.begin(), Sources.end(), Token), End; M != End; ++M)
        if ((*M)[1].matched)
            Result.insert((*M)[1]);
    return Result;
}

TEST(Guide, QuotesOnlyWhatTheProgramSays) {
    const std::string Guide = ReadFile(fs::path(ORMANT_SOURCE_DIR) / "docs" / "guide-ru.md");
    // Notepad of older Windows takes a text without a BOM for ANSI.
    ASSERT_EQ(Guide.substr(0, 3), "\xEF\xBB\xBF");
    const std::regex Program = Grammar(ProgramLiterals());
    // A « left open is a quotation of its own, and no text of the program's.
    static const std::regex Quotation(R"(«(.*?)»|(«)|\n```[^\n]*\n([^`]*)```)");
    int Quotes = 0;
    for (std::sregex_iterator M(Guide.begin(), Guide.end(), Quotation), End; M != End; ++M) {
        std::stringstream Lines(M->str(1) + M->str(2) + M->str(3));
        for (std::string Quote; std::getline(Lines, Quote); ++Quotes)
            EXPECT_TRUE(std::regex_match(Quote, Program))
                << "«" << Quote << "» is not the program's";
    }
    EXPECT_GE(Quotes, 10);
}

} // namespace
