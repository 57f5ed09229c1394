// The operator's guide quotes the program's texts in «…»; every quotation must
// still be what the program says, so the guide cannot drift from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path Root = ORMANT_SOURCE_DIR;
const std::string Ellipsis = "…";

std::string ReadFile(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

// The string literals of a C++ or resource source, comments left out, with
// their escapes as written: the texts the guide quotes need none.
std::vector<std::string> Literals(const std::string& Source) {
    std::vector<std::string> Result;
    for (size_t I = 0; I < Source.size(); ++I) {
        if (Source.compare(I, 2, "//") == 0) {
            I = Source.find('\n', I);
            if (I == std::string::npos)
                break;
        } else if (Source.compare(I, 2, "/*") == 0) {
            I = Source.find("*/", I + 2);
            if (I == std::string::npos)
                break;
            ++I;
        } else if (Source[I] == '\'' || Source[I] == '"') {
            const char Quote = Source[I];
            std::string Text;
            for (++I; I < Source.size() && Source[I] != Quote; ++I) {
                if (Source[I] == '\\' && I + 1 < Source.size())
                    Text += Source[I++];
                Text += Source[I];
            }
            if (Quote == '"')
                Result.push_back(Text);
        }
    }
    return Result;
}

// The program's texts: the literals of its sources split at printf
// conversions, where numbers and other texts are filled in.
std::set<std::string> ProgramTexts() {
    const std::regex Conversion(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?[hlLzjt]*[diouxXcsfeg%])");
    std::set<std::string> Texts;
    for (const char* Folder : {"app", "driver", "link", "timeout"}) {
        for (const auto& Entry : fs::recursive_directory_iterator(Root / Folder)) {
            const std::string Ext = Entry.path().extension().string();
            if (Ext != ".cpp" && Ext != ".h" && Ext != ".rc")
                continue;
            for (const std::string& Literal : Literals(ReadFile(Entry.path()))) {
                std::sregex_token_iterator Part(Literal.begin(), Literal.end(), Conversion, -1);
                for (; Part != std::sregex_token_iterator(); ++Part)
                    if (Part->length() > 0)
                        Texts.insert(Part->str());
            }
        }
    }
    return Texts;
}

// The guide's quotations: in «…», and every line of its ``` blocks, which
// show the log.
std::vector<std::string> Quotations(const std::string& Guide) {
    std::vector<std::string> Result;
    std::istringstream Lines(Guide);
    bool InBlock = false;
    for (std::string Line; std::getline(Lines, Line);) {
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        if (Line.starts_with("```"))
            InBlock = !InBlock;
        else if (InBlock && !Line.empty())
            Result.push_back(Line);
    }
    for (size_t Open = Guide.find("«"); Open != std::string::npos;
         Open = Guide.find("«", Open + 1)) {
        const size_t Begin = Open + std::string("«").size();
        const size_t Close = Guide.find("»", Begin);
        if (Close == std::string::npos) {
            Result.push_back(Guide.substr(Open));
            break;
        }
        Result.push_back(Guide.substr(Begin, Close - Begin));
    }
    return Result;
}

struct TPiece {
    std::string Text;
    bool StartsQuotation, EndsQuotation;
};

// A quotation's stretches between what the program fills in: numbers
// (decimal or hexadecimal, with the padding after them) and "…" for any text.
std::vector<TPiece> Pieces(const std::string& Quotation) {
    static const std::regex Filled("-?[0-9A-F]*[0-9][0-9A-F]* *");
    std::vector<TPiece> Result;
    size_t Begin = 0;
    for (size_t At;; Begin = At + Ellipsis.size()) {
        At = Quotation.find(Ellipsis, Begin);
        const std::string Part = Quotation.substr(Begin, At - Begin);
        auto Left = Part.begin();
        for (std::sregex_iterator Match(Part.begin(), Part.end(), Filled), End;; ++Match) {
            const auto Right = Match == End ? Part.end() : Part.begin() + Match->position();
            if (Right > Left) {
                const size_t Offset = Begin + (Left - Part.begin());
                Result.push_back({std::string(Left, Right), Offset == 0,
                                  Offset + (Right - Left) == Quotation.size()});
            }
            if (Match == End)
                break;
            Left = Right + Match->length();
        }
        if (At == std::string::npos)
            break;
    }
    return Result;
}

// Whether the piece is the program's texts put together. Where texts meet,
// one ends and the next begins; at the quotation's own ends a text begins or
// ends too; next to what the program fills in a text may go on.
bool Composed(const TPiece& Piece, const std::set<std::string>& Texts) {
    const std::string& S = Piece.Text;
    const auto Fits = [&](const std::string& Part, bool AtStart, bool AtEnd) {
        for (const std::string& Text : Texts) {
            if (AtStart && AtEnd ? Text == Part
                : AtStart        ? Text.starts_with(Part)
                : AtEnd          ? Text.ends_with(Part)
                                 : Text.find(Part) != std::string::npos)
                return true;
        }
        return false;
    };
    std::vector<int> Known(S.size() + 1, -1); // from a position: 0 no, 1 yes
    const std::function<bool(size_t)> From = [&](size_t Begin) -> bool {
        if (Known[Begin] >= 0)
            return Known[Begin] == 1;
        bool Found = false;
        for (size_t End = S.size(); End > Begin && !Found; --End) {
            const bool Last = End == S.size();
            Found = Fits(S.substr(Begin, End - Begin), Begin > 0 || Piece.StartsQuotation,
                         !Last || Piece.EndsQuotation) &&
                    (Last || From(End));
        }
        Known[Begin] = Found;
        return Found;
    };
    return From(0);
}

TEST(Guide, QuotesOnlyWhatTheProgramSays) {
    const std::string Guide = ReadFile(Root / "docs" / "guide-ru.md");
    // Notepad of older Windows takes a text without a BOM for ANSI.
    ASSERT_EQ(Guide.substr(0, 3), "\xEF\xBB\xBF");
    const std::set<std::string> Texts = ProgramTexts();
    const std::vector<std::string> Quoted = Quotations(Guide);
    EXPECT_GE(Quoted.size(), 10u);
    for (const std::string& Quotation : Quoted) {
        EXPECT_EQ(Quotation.find('\n'), std::string::npos) << "«" << Quotation << "» is not closed";
        for (const TPiece& Piece : Pieces(Quotation))
            EXPECT_TRUE(Composed(Piece, Texts))
                << "«" << Quotation << "»: \"" << Piece.Text << "\" is not the program's";
    }
}

TEST(Guide, TheCheckCatchesDrift) {
    const std::set<std::string> Texts = {"Ошибка драйвера: (", ") ", "Нет связи",
                                         " мс : ", "Тест не пройден!"};
    const auto Quoted = [&](const std::string& Q) {
        for (const TPiece& Piece : Pieces(Q))
            if (!Composed(Piece, Texts))
                return false;
        return true;
    };
    EXPECT_TRUE(Quoted("Ошибка драйвера: (-1) Нет связи"));
    EXPECT_TRUE(Quoted("10000  мс : Тест не пройден!"));
    EXPECT_TRUE(Quoted("Ошибка драйвера: (3) …"));
    EXPECT_FALSE(Quoted("Ошибка драйвера: (-1) Нет связи с ФР"));
    EXPECT_FALSE(Quoted("10000 мс: Тест не пройден!"));
    EXPECT_FALSE(Quoted("Тест не пройден"));
    EXPECT_FALSE(Quoted("Ошибка драйвера (-1) Нет связи"));
}

} // namespace
