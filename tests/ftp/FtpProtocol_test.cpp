// The socket-free half of the FTP client: reply assembly, passive-mode and SIZE replies,
// argument checks and the firewall login sequences.
#include "core/net/FtpProtocol.h"

#include <gtest/gtest.h>

using namespace quillo;

namespace {

TFtpReply Assemble(const std::vector<std::string>& Lines, size_t* ConsumedLines = nullptr) {
    TFtpReplyAssembler A;
    for (size_t I = 0; I < Lines.size(); ++I)
        if (A.AddLine(Lines[I])) {
            if (ConsumedLines)
                *ConsumedLines = I + 1;
            return A.TakeReply();
        }
    if (ConsumedLines)
        *ConsumedLines = Lines.size();
    return TFtpReply{};
}

} // namespace

TEST(FtpReplies, SingleAndMultiLineReplies) {
    struct Case {
        std::vector<std::string> Lines;
        int Code;
        size_t Consumed;
        std::string Text;
    };
    const Case Cases[] = {
        {{"220 Ready"}, 220, 1, "Ready"},
        {{"200"}, 200, 1, ""},
        {{"213 1000"}, 213, 1, "1000"},
        {{"230-Welcome", "230 Logged in"}, 230, 2, "Welcome\nLogged in"},
        // Lines inside a multi-line reply may start with digits, even another code or the same
        // code followed by "-"; only "ddd " with the opening code ends it.
        {{"220-Hello", "123 not the end", "220-still not", " 220 indented", "220 done", "331 next"},
         220,
         5,
         "Hello\n123 not the end\n220-still not\n 220 indented\ndone"},
        {{"211-Features:", " SIZE", " EPSV", "211 End"}, 211, 4, "Features:\n SIZE\n EPSV\nEnd"},
    };
    for (const Case& C : Cases) {
        size_t Consumed = 0;
        TFtpReply R = Assemble(C.Lines, &Consumed);
        EXPECT_EQ(R.Code, C.Code) << C.Lines[0];
        EXPECT_EQ(Consumed, C.Consumed) << C.Lines[0];
        EXPECT_EQ(R.Text(), C.Text) << C.Lines[0];
    }
}

TEST(FtpReplies, MalformedFirstLineIsAProtocolError) {
    for (const char* Line : {"hello", "22 short", "2200 four digits", "099 below range", "", "abc ok"}) {
        TFtpReplyAssembler A;
        EXPECT_THROW(A.AddLine(Line), EProtocolError) << Line;
    }
}

TEST(FtpReplies, EndlessMultiLineReplyIsCut) {
    TFtpReplyAssembler A;
    A.AddLine("220-start");
    bool Threw = false;
    for (size_t I = 0; I < TFtpReplyAssembler::MaxReplyLines + 5 && !Threw; ++I) {
        try {
            A.AddLine("more text");
        } catch (const EProtocolError&) {
            Threw = true;
        }
    }
    EXPECT_TRUE(Threw);
}

TEST(FtpReplies, PassiveModeReplies) {
    struct Case {
        std::string Text;
        bool Ok;
        std::string Host;
        uint16_t Port;
    };
    const Case Cases[] = {
        {"Entering Passive Mode (127,0,0,1,195,80).", true, "127.0.0.1", 50000},
        {"Entering Passive Mode 10,1,2,3,0,21", true, "10.1.2.3", 21},
        {"=127,0,0,1,4,1", true, "127.0.0.1", 1025},
        {"Entering Passive Mode (127, 0, 0, 1, 4, 1)", true, "127.0.0.1", 1025},
        {"Entering Passive Mode (256,0,0,1,4,1)", false, "", 0},
        {"Entering Passive Mode (127,0,0,1,4)", false, "", 0},
        {"Entering Passive Mode (127,0,0,1,0,0)", false, "", 0},
        {"Entering Passive Mode (1270,0,0,1,4,1)", false, "", 0},
        {"Entering Passive Mode", false, "", 0},
    };
    for (const Case& C : Cases) {
        std::string Host;
        uint16_t Port = 0;
        EXPECT_EQ(ParsePasvReply(C.Text, Host, Port), C.Ok) << C.Text;
        if (C.Ok) {
            EXPECT_EQ(Host, C.Host) << C.Text;
            EXPECT_EQ(Port, C.Port) << C.Text;
        }
    }
}

TEST(FtpReplies, ExtendedPassiveModeReplies) {
    struct Case {
        std::string Text;
        bool Ok;
        uint16_t Port;
    };
    const Case Cases[] = {
        {"Entering Extended Passive Mode (|||6446|)", true, 6446},
        {"Entering Extended Passive Mode (!!!65535!)", true, 65535},
        {"Entering Extended Passive Mode (|||65536|)", false, 0},
        {"Entering Extended Passive Mode (|||0|)", false, 0},
        {"Entering Extended Passive Mode (||6446|)", false, 0},
        {"Entering Extended Passive Mode (|||6446)", false, 0},
        {"Entering Extended Passive Mode (|||-5|)", false, 0},
        {"no brackets |||6446|", false, 0},
    };
    for (const Case& C : Cases) {
        uint16_t Port = 0;
        EXPECT_EQ(ParseEpsvReply(C.Text, Port), C.Ok) << C.Text;
        if (C.Ok) {
            EXPECT_EQ(Port, C.Port) << C.Text;
        }
    }
}

TEST(FtpReplies, SizeReplyText) {
    const std::pair<std::string, int64_t> Cases[] = {
        {"1000", 1000}, {"0", 0},    {" 209715200 ", 209715200},      {"", -1},           {"12ab", -1},
        {"-5", -1},     {"1e3", -1}, {"99999999999999999999999", -1}, {"1000 bytes", -1},
    };
    for (const auto& [Text, Size] : Cases)
        EXPECT_EQ(ParseSizeReply(Text), Size) << Text;
}

TEST(FtpArguments, LineBreaksAndNulAreRefused) {
    EXPECT_NO_THROW(CheckFtpArgument("normal name (1).zip", "upload name"));
    EXPECT_NO_THROW(CheckFtpArgument("\xC3\xA9t\xC3\xA9 \t tab.txt", "upload name"));
    for (const std::string& Bad :
         {std::string("a\r\nDELE x"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
        try {
            CheckFtpArgument(Bad, "upload name");
            ADD_FAILURE() << "accepted";
        } catch (const EFtpInvalidArgument& E) {
            EXPECT_NE(std::string(E.what()).find("upload name"), std::string::npos);
        }
    }
}

namespace {

std::vector<std::string> Render(const TFtpLoginPlan& Plan) {
    std::vector<std::string> Out;
    for (const TFtpLoginStep& S : Plan.Steps) {
        if (S.Kind == TFtpLoginStep::lkCommand) {
            Out.push_back(S.Command);
        } else {
            Out.push_back("USER " + S.User);
            Out.push_back("PASS " + S.Password);
            if (!S.Account.empty())
                Out.push_back("ACCT " + S.Account);
        }
    }
    return Out;
}

} // namespace

TEST(FtpLogin, SchemeSequences) {
    TFtpLoginTarget T;
    T.Host = "up1.example";
    T.Port = 21;
    T.User = "bob";
    T.Password = "secret";
    T.FirewallUser = "fw";
    T.FirewallPassword = "fwpw";
    using V = std::vector<std::string>;
    struct Case {
        TFtpProxyScheme Scheme;
        bool ToFirewall;
        V Commands;
    };
    const Case Cases[] = {
        {fpsNone, false, V{"USER bob", "PASS secret"}},
        {fpsUserSite, true, V{"USER fw", "PASS fwpw", "USER bob@up1.example", "PASS secret"}},
        {fpsSite, true, V{"USER fw", "PASS fwpw", "SITE up1.example", "USER bob", "PASS secret"}},
        {fpsOpen, true, V{"USER fw", "PASS fwpw", "OPEN up1.example", "USER bob", "PASS secret"}},
        {fpsUserPass, true, V{"USER bob@fw@up1.example", "PASS secret@fwpw"}},
        {fpsTransparent, false, V{"USER fw", "PASS fwpw", "USER bob", "PASS secret"}},
        {fpsUserHostFirewallId, true, V{"USER bob@up1.example fw", "PASS secret", "ACCT fwpw"}},
        {fpsNovellBorder, true, V{"USER bob@up1.example", "PASS secret"}},
        {fpsHttpProxyWithFtp, false, V{"USER bob", "PASS secret"}},
    };
    for (const Case& C : Cases) {
        TFtpLoginPlan Plan = MakeFtpLoginPlan(C.Scheme, T);
        EXPECT_EQ(Plan.ConnectToFirewall, C.ToFirewall) << FtpProxySchemeName(C.Scheme);
        EXPECT_EQ(Render(Plan), C.Commands) << FtpProxySchemeName(C.Scheme);
    }
}

TEST(FtpLogin, NoFirewallUserSkipsTheFirewallLoginAndPortIsNamed) {
    TFtpLoginTarget T;
    T.Host = "127.0.0.1";
    T.Port = 2121;
    T.User = "bob";
    T.Password = "pw";
    using V = std::vector<std::string>;
    EXPECT_EQ(Render(MakeFtpLoginPlan(fpsUserSite, T)), (V{"USER bob@127.0.0.1:2121", "PASS pw"}));
    EXPECT_EQ(Render(MakeFtpLoginPlan(fpsSite, T)), (V{"SITE 127.0.0.1:2121", "USER bob", "PASS pw"}));
    EXPECT_EQ(Render(MakeFtpLoginPlan(fpsUserHostFirewallId, T)), (V{"USER bob@127.0.0.1:2121", "PASS pw"}));
}

TEST(FtpLogin, InjectionThroughCredentialsIsRefused) {
    TFtpLoginTarget T;
    T.Host = "h";
    T.User = "bob";
    T.Password = "pw";
    TFtpLoginTarget Bad = T;
    Bad.User = "bob\r\nDELE important";
    EXPECT_THROW(MakeFtpLoginPlan(fpsNone, Bad), EFtpInvalidArgument);
    Bad = T;
    Bad.Password = std::string("pw\0x", 4);
    EXPECT_THROW(MakeFtpLoginPlan(fpsNone, Bad), EFtpInvalidArgument);
    Bad = T;
    Bad.FirewallPassword = "x\nSITE evil";
    EXPECT_THROW(MakeFtpLoginPlan(fpsUserPass, Bad), EFtpInvalidArgument);
    Bad = T;
    Bad.Host = "h\r\nQUIT";
    EXPECT_THROW(MakeFtpLoginPlan(fpsSite, Bad), EFtpInvalidArgument);
}

TEST(FtpLogin, SchemeNamesFollowTheSettingsList) {
    EXPECT_EQ(FtpProxySchemeName(0), "CONNECT");
    EXPECT_EQ(FtpProxySchemeName(6), "USER-HOST-FIREWALL-ID");
    EXPECT_EQ(FtpProxySchemeName(8), "HTTP PROXY WITH FTP");
    EXPECT_EQ(FtpProxySchemeName(9), "");
}

TEST(FtpLogin, TargetAddressNamesPortAndBracketsIpv6) {
    TFtpLoginTarget T;
    T.Host = "files.example";
    T.Port = 21;
    EXPECT_EQ(FtpTargetAddress(T), "files.example");
    T.Port = 2121;
    EXPECT_EQ(FtpTargetAddress(T), "files.example:2121");
    T.Host = "::1";
    EXPECT_EQ(FtpTargetAddress(T), "[::1]:2121");
    // The connection accepts a bracketed address too; the firewall must get it bracketed once.
    T.Host = "[::1]";
    EXPECT_EQ(FtpTargetAddress(T), "[::1]:2121");
    EXPECT_EQ(MakeFtpLoginPlan(fpsUserSite, T).Steps.back().User, "@[::1]:2121");
}

// Hostile server text: random lines never crash the reply assembler or the parsers, and what
// they accept stays in range.
TEST(FtpReplies, RandomTextIsHandledSafely) {
    uint32_t X = 12345;
    auto Next = [&X] {
        X ^= X << 13;
        X ^= X >> 17;
        X ^= X << 5;
        return X;
    };
    const std::string Alphabet = "0123456789 -,()|!.\r\nabcZ\xff";
    for (int Round = 0; Round < 20000; ++Round) {
        std::string Line;
        const size_t Length = Next() % 40;
        for (size_t I = 0; I < Length; ++I)
            Line += Alphabet[Next() % Alphabet.size()];
        if (Round % 3 == 0)
            Line = std::to_string(100 + Next() % 500) + (Next() % 2 ? "-" : " ") + Line;
        TFtpReplyAssembler A;
        try {
            if (!A.AddLine(Line))
                A.AddLine(Line.substr(0, 3) + " end");
        } catch (const EProtocolError&) {
        }
        std::string Host;
        uint16_t Port = 0;
        if (ParsePasvReply(Line, Host, Port)) {
            EXPECT_GT(Port, 0);
            EXPECT_LE(Host.size(), 15u);
        }
        ParseEpsvReply(Line, Port);
        EXPECT_GE(ParseSizeReply(Line), -1);
    }
}
