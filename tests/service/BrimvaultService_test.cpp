// The stand-in service is a fixture for the network, engine and scheduler tests: these cases make
// sure it answers and records what those tests rely on. Spoken to with plain libcurl so that a
// fault here is the stand-in's own.
#include "support/BrimvaultService.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QUrl>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

namespace quillo::test {
namespace {

struct TCurlReply {
    CURLcode Code = CURLE_OK;
    long Status = 0;
    QByteArray Body;
    QByteArray HeaderText;
};

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<QByteArray*>(target)->append(data, qsizetype(size * count));
    return size * count;
}

struct TUploadSource {
    QByteArray Data;
    qsizetype Pos = 0;
};

size_t Feed(char* buffer, size_t size, size_t count, void* source) {
    auto* s = static_cast<TUploadSource*>(source);
    const size_t n = std::min(size * count, size_t(s->Data.size() - s->Pos));
    memcpy(buffer, s->Data.constData() + s->Pos, n);
    s->Pos += qsizetype(n);
    return n;
}

class TCurl {
public:
    TCurl() : FCurl(curl_easy_init()) {
        curl_easy_setopt(FCurl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(FCurl, CURLOPT_TIMEOUT, 30L);
        curl_easy_setopt(FCurl, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(FCurl, CURLOPT_WRITEDATA, &FReply.Body);
        curl_easy_setopt(FCurl, CURLOPT_HEADERFUNCTION, Collect);
        curl_easy_setopt(FCurl, CURLOPT_HEADERDATA, &FReply.HeaderText);
    }
    ~TCurl() {
        if (FForm)
            curl_mime_free(FForm);
        curl_easy_cleanup(FCurl);
    }
    TCurl(const TCurl&) = delete;
    TCurl& operator=(const TCurl&) = delete;

    CURL* Handle() { return FCurl; }

    void AddField(const char* name, const QByteArray& value) {
        curl_mimepart* part = curl_mime_addpart(Form());
        curl_mime_name(part, name);
        curl_mime_data(part, value.constData(), size_t(value.size()));
    }
    void AddFile(const char* name, const char* fileName, const QByteArray& data) {
        curl_mimepart* part = curl_mime_addpart(Form());
        curl_mime_name(part, name);
        curl_mime_filename(part, fileName);
        curl_mime_type(part, "application/octet-stream");
        curl_mime_data(part, data.constData(), size_t(data.size()));
    }
    // FTP store of data; append sends APPE instead of STOR.
    void SetUpload(const QByteArray& data, bool append) {
        FSource = {data, 0};
        curl_easy_setopt(FCurl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(FCurl, CURLOPT_APPEND, append ? 1L : 0L);
        curl_easy_setopt(FCurl, CURLOPT_READFUNCTION, Feed);
        curl_easy_setopt(FCurl, CURLOPT_READDATA, &FSource);
        curl_easy_setopt(FCurl, CURLOPT_INFILESIZE_LARGE, curl_off_t(data.size()));
    }

    TCurlReply Run(const QString& url) {
        const QByteArray u = url.toUtf8();
        curl_easy_setopt(FCurl, CURLOPT_URL, u.constData());
        if (FForm)
            curl_easy_setopt(FCurl, CURLOPT_MIMEPOST, FForm);
        FReply.Code = curl_easy_perform(FCurl);
        curl_easy_getinfo(FCurl, CURLINFO_RESPONSE_CODE, &FReply.Status);
        return FReply;
    }

private:
    curl_mime* Form() {
        if (!FForm)
            FForm = curl_mime_init(FCurl);
        return FForm;
    }

    CURL* FCurl;
    curl_mime* FForm = nullptr;
    TCurlReply FReply;
    TUploadSource FSource;
};

TCurlReply Get(const QString& url) {
    return TCurl().Run(url);
}

QByteArray RandomBytes(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

QByteArray Md5Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toUpper();
}

// The value of the first NAME: line of an upload reply.
QString ReplyValue(const QByteArray& reply, const QString& name) {
    for (const QByteArray& line : reply.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && QString::fromUtf8(line.left(colon)).compare(name, Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(line.mid(colon + 1)).trimmed();
    }
    return QString();
}

QByteArray EncodeEveryByte(const QByteArray& text) {
    QByteArray out;
    for (char c : text)
        out += '%' + QByteArray::number(uchar(c), 16).rightJustified(2, '0').toUpper();
    return out;
}

TCurlReply Upload(const TBrimvaultService& service, const QByteArray& data, const char* fileName = "a.bin") {
    TCurl curl;
    curl.AddField("group_name", "soft");
    curl.AddField("mode", "soft");
    curl.AddField("wmid", "a::");
    curl.AddFile("FILE1", fileName, data);
    return curl.Run(service.UploadUrl());
}

QString FtpUrl(const TBrimvaultService& service, const QString& name) {
    return QStringLiteral("ftp://127.0.0.1:%1/%2")
        .arg(service.FtpPort())
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(name)));
}

TCurlReply FtpStore(const TBrimvaultService& service, const QString& user, const QString& name,
                    const QByteArray& data, bool append) {
    TCurl curl;
    curl_easy_setopt(curl.Handle(), CURLOPT_USERNAME, user.toUtf8().constData());
    curl_easy_setopt(curl.Handle(), CURLOPT_PASSWORD, "secret");
    curl.SetUpload(data, append);
    return curl.Run(FtpUrl(service, name));
}

// The remote size by SIZE (-1 when the command fails).
qint64 FtpSize(const TBrimvaultService& service, const QString& name) {
    TCurl curl;
    curl_easy_setopt(curl.Handle(), CURLOPT_USERPWD, "bob:secret");
    curl_easy_setopt(curl.Handle(), CURLOPT_NOBODY, 1L);
    const TCurlReply reply = curl.Run(FtpUrl(service, name));
    curl_off_t size = -1;
    if (reply.Code != CURLE_OK)
        return -1;
    curl_easy_getinfo(curl.Handle(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    return size;
}

class BrimvaultServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        TBrimvaultServiceOptions options;
        options.Accounts = {{QStringLiteral("bob"), QStringLiteral("secret")}};
        options.KeepRawBodies = true;
        ASSERT_TRUE(FService.Start(options)) << FService.ErrorText().toStdString();
    }
    TBrimvaultService FService;
};

TEST_F(BrimvaultServiceTest, ListsItselfAsTheUploadServerAndPublishesAVersion) {
    EXPECT_EQ(Get(FService.SiteUrl() + "uploadservers.txt").Body.trimmed(), FService.SiteHost().toUtf8());
    const TCurlReply version = Get(FService.SiteUrl() + "quillouploader/version.txt");
    EXPECT_EQ(version.Status, 200);
    EXPECT_EQ(version.Body.trimmed(), "100");
}

TEST_F(BrimvaultServiceTest, MultipartUploadIsStoredAndAnsweredWithWorkingLinks) {
    const QByteArray data = RandomBytes(300 * 1000);
    const TCurlReply reply = Upload(FService, data, "my file.bin");
    ASSERT_EQ(reply.Code, CURLE_OK);
    ASSERT_EQ(reply.Status, 200);
    const QString download = ReplyValue(reply.Body, "DOWNLOAD");
    const QString kill = ReplyValue(reply.Body, "DELETE");
    ASSERT_FALSE(download.isEmpty()) << reply.Body.toStdString();
    ASSERT_FALSE(kill.isEmpty());

    const QList<QJsonObject> posts = FService.HttpRequests("/cgi-bin/upload.cgi");
    ASSERT_EQ(posts.size(), 1);
    const QJsonObject post = posts.first();
    EXPECT_EQ(post.value("method").toString(), "POST");
    const QList<QPair<QString, QString>> expectedFields{
        {"group_name", "soft"}, {"mode", "soft"}, {"wmid", "a::"}};
    EXPECT_EQ(TBrimvaultService::FormFields(post), expectedFields);
    const QJsonObject form = post.value("form").toObject();
    EXPECT_TRUE(form.value("complete").toBool());
    const QJsonObject file = form.value("file").toObject();
    EXPECT_EQ(file.value("field").toString(), "FILE1");
    EXPECT_EQ(file.value("filename").toString(), "my file.bin");
    EXPECT_EQ(file.value("content_type").toString(), "application/octet-stream");
    EXPECT_EQ(file.value("size").toInteger(), data.size());
    EXPECT_EQ(file.value("md5").toString().toLatin1(), Md5Hex(data));
    EXPECT_TRUE(
        TBrimvaultService::HeaderValue(post, "content-type").startsWith("multipart/form-data; boundary="));
    const QByteArray raw = TBrimvaultService::RawBody(post);
    EXPECT_EQ(QString::number(raw.size()), TBrimvaultService::HeaderValue(post, "Content-Length"));
    EXPECT_TRUE(raw.contains(data));

    EXPECT_EQ(Md5Hex(Get(download).Body), Md5Hex(data));
    EXPECT_EQ(Get(kill).Status, 200);
    EXPECT_EQ(Get(download).Status, 404);
}

TEST_F(BrimvaultServiceTest, FtpStoreAppendAndSizeThenCommitChecksTheFile) {
    const QByteArray data = RandomBytes(50 * 1000);
    ASSERT_EQ(FtpStore(FService, "bob", "up load.bin", data.left(1000), false).Code, CURLE_OK);
    EXPECT_EQ(FtpSize(FService, "up load.bin"), 1000);
    ASSERT_EQ(FtpStore(FService, "bob", "up load.bin", data.mid(1000), true).Code, CURLE_OK);
    EXPECT_EQ(FtpSize(FService, "up load.bin"), data.size());
    EXPECT_EQ(Md5Hex(FService.ReadAccountFile("bob", "up load.bin")), Md5Hex(data));
    const QStringList lines = FService.FtpCommandLines();
    EXPECT_TRUE(lines.contains("STOR up load.bin")) << lines.join('|').toStdString();
    EXPECT_TRUE(lines.contains("APPE up load.bin"));
    EXPECT_TRUE(lines.contains("SIZE up load.bin"));

    const auto commitUrl = [&](const QByteArray& md5) {
        return FService.UploadUrl() + "?action=commit&user=" + EncodeEveryByte("bob") +
               "&pass=" + EncodeEveryByte("secret") + "&filename=" + EncodeEveryByte("up load.bin") +
               "&size=" + QString::number(data.size()) + "&md5=" + md5;
    };
    const TCurlReply wrong = Get(commitUrl(Md5Hex("something else")));
    EXPECT_TRUE(ReplyValue(wrong.Body, "DOWNLOAD").isEmpty()) << wrong.Body.toStdString();
    EXPECT_TRUE(wrong.Body.startsWith("ERROR"));

    const TCurlReply right = Get(commitUrl(Md5Hex(data)));
    const QString download = ReplyValue(right.Body, "DOWNLOAD");
    ASSERT_FALSE(download.isEmpty()) << right.Body.toStdString();
    EXPECT_FALSE(ReplyValue(right.Body, "DELETE").isEmpty());
    EXPECT_EQ(Md5Hex(Get(download).Body), Md5Hex(data));
    const QJsonObject commit = FService.HttpRequests("/cgi-bin/upload.cgi").last().value("commit").toObject();
    EXPECT_EQ(commit.value("user").toString(), "bob");
    EXPECT_EQ(commit.value("filename").toString(), "up load.bin");
    EXPECT_TRUE(commit.value("ok").toBool());
}

TEST_F(BrimvaultServiceTest, CommitRefusesAWrongLoginOrAMissingFile) {
    ASSERT_TRUE(FService.WriteAccountFile("bob", "x.bin", "12345"));
    const QString md5 = Md5Hex("12345");
    struct {
        const char* query;
        const char* reason;
    } const cases[] = {
        {"user=bob&pass=wrong&filename=x.bin&size=5&md5=", "Invalid login"},
        {"user=bob&pass=secret&filename=y.bin&size=5&md5=", "File not found"},
        {"user=bob&pass=secret&filename=x.bin&size=6&md5=", "Size mismatch"},
    };
    for (const auto& c : cases) {
        const TCurlReply reply = Get(FService.UploadUrl() + "?action=commit&" + c.query + md5);
        EXPECT_EQ(reply.Body.trimmed(), QByteArray("ERROR: ") + c.reason) << c.query;
    }
}

TEST_F(BrimvaultServiceTest, HttpFaultSwitches) {
    const QByteArray data = RandomBytes(20 * 1000);

    ASSERT_TRUE(FService.SetFaults({{"upload_status", 500}}));
    EXPECT_EQ(Upload(FService, data).Status, 500);

    ASSERT_TRUE(FService.SetFaults({{"upload_status", 0}, {"no_download", true}}));
    TCurlReply reply = Upload(FService, data);
    EXPECT_TRUE(ReplyValue(reply.Body, "DOWNLOAD").isEmpty());
    EXPECT_FALSE(ReplyValue(reply.Body, "DELETE").isEmpty());

    ASSERT_TRUE(FService.ResetFaults());
    ASSERT_TRUE(FService.SetFaults({{"drop_after", 1000}, {"drop_after_times", 1}}));
    ASSERT_TRUE(FService.ClearLog());
    EXPECT_NE(Upload(FService, data).Code, CURLE_OK);
    const QJsonObject dropped = FService.HttpRequests("/cgi-bin/upload.cgi").value(0);
    EXPECT_TRUE(dropped.value("dropped").toBool());
    EXPECT_EQ(dropped.value("body_size").toInt(), 1000);
    EXPECT_EQ(Upload(FService, data).Status, 200) << "drop_after_times should have used the fault up";

    ASSERT_TRUE(FService.SetFaults({{"fail_next", 2}, {"fail_path", "/quillouploader/"}}));
    const QString version = FService.SiteUrl() + "quillouploader/version.txt";
    EXPECT_EQ(Get(FService.SiteUrl() + "uploadservers.txt").Status, 200);
    EXPECT_EQ(Get(version).Status, 503);
    EXPECT_EQ(Get(version).Status, 503);
    EXPECT_EQ(Get(version).Status, 200);

    ASSERT_TRUE(FService.SetFaults(
        {{"server_list", ""}, {"redirect_location", "/moved here/upload.cgi"}, {"redirect_times", 1}}));
    EXPECT_TRUE(Get(FService.SiteUrl() + "uploadservers.txt").Body.isEmpty());
    reply = Upload(FService, data);
    EXPECT_EQ(reply.Status, 302);
    EXPECT_TRUE(reply.HeaderText.contains("Location: /moved here/upload.cgi\r\n"));
    EXPECT_EQ(Upload(FService, data).Status, 200) << "a one-time redirect";
    // The redirect target still accepts the upload, written the way a client escapes the space.
    TCurl moved;
    moved.AddFile("FILE1", "b.bin", data);
    EXPECT_FALSE(
        ReplyValue(moved.Run(FService.SiteUrl() + "moved%20here/upload.cgi").Body, "DOWNLOAD").isEmpty());

    EXPECT_FALSE(FService.SetFaults({{"no_such_switch", 1}}));
    EXPECT_TRUE(FService.ErrorText().contains("no_such_switch"));
}

TEST_F(BrimvaultServiceTest, FtpFaultSwitches) {
    const QByteArray data = RandomBytes(200 * 1000);
    ASSERT_TRUE(FService.SetFaults({{"ftp_drop_after", 5000}, {"ftp_drop_after_times", 1}}));
    EXPECT_NE(FtpStore(FService, "bob", "d.bin", data, false).Code, CURLE_OK);
    EXPECT_TRUE(FService.WaitForLog([](const QList<QJsonObject>& entries) {
        for (const QJsonObject& e : entries) {
            if (e.value("event").toString() == "transfer_end" && !e.value("completed").toBool() &&
                e.value("bytes").toInt() == 5000)
                return true;
        }
        return false;
    }));
    EXPECT_EQ(FService.ReadAccountFile("bob", "d.bin").size(), 5000);
    EXPECT_EQ(Md5Hex(FService.ReadAccountFile("bob", "d.bin")), Md5Hex(data.left(5000)));
    EXPECT_EQ(FtpStore(FService, "bob", "d.bin", data.mid(5000), true).Code, CURLE_OK);
    EXPECT_EQ(Md5Hex(FService.ReadAccountFile("bob", "d.bin")), Md5Hex(data));

    ASSERT_TRUE(FService.SetFaults({{"ftp_refuse_next", 1}}));
    EXPECT_NE(FtpStore(FService, "bob", "e.bin", data, false).Code, CURLE_OK);
    EXPECT_EQ(FtpStore(FService, "bob", "e.bin", data, false).Code, CURLE_OK);

    ASSERT_TRUE(FService.SetFaults({{"ftp_size_reply", "550 No such file."}}));
    EXPECT_EQ(FtpSize(FService, "d.bin"), -1);
    ASSERT_TRUE(FService.ResetFaults());
    EXPECT_EQ(FtpSize(FService, "d.bin"), data.size());
}

} // namespace
} // namespace quillo::test
