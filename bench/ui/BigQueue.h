#pragma once
// The data folder of a long-lived user, for the window benchmarks: N tasks (every third one
// failed, the others paused) and N finished uploads with their links, written through the
// core's jobs-file writer. Tasks given as Head go first, in the order given.

#include "core/queue/JobsFile.h"
#include "core/queue/UploadQueue.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace quillo::bench {

// Ends the program with a message naming Program when the file cannot be written.
inline void WriteBigJobsFile(const std::string& File, int N, const char* Program,
                             std::vector<TUploadJobData> Head = {}) {
    TUploadQueue q;
    std::vector<TUploadJobData> tasks = std::move(Head);
    std::vector<TFinishedUploadJobData> finished;
    for (int i = 0; i < N; ++i) {
        TUploadJobData t;
        t.State = i % 3 == 2 ? jsError : jsDelayed;
        t.FileName = "/home/user/Videos/holiday-2026/clip-" + std::to_string(100000 + i) + ".mp4";
        t.FileSize = 700'000'000LL + i;
        t.Method = i % 5 ? "HTTP Method" : "FTP Method";
        if (t.State == jsError)
            t.StatusText = "Socket Error # 10054 Connection reset by peer.";
        tasks.push_back(std::move(t));
        TFinishedUploadJobData f;
        f.FileName = "/home/user/Pictures/2026/img-" + std::to_string(100000 + i) + ".jpg";
        f.FileSize = 3'000'000 + i;
        f.EndTime = 46000.5 + i / 1440.0;
        f.Method = "HTTP Method";
        f.Result = "download-link=http://www.brimvault.com/d/" + std::to_string(i) +
                   "\r\nkill-link=http://www.brimvault.com/k/" + std::to_string(i) +
                   "\r\nMD5=0123456789abcdef";
        finished.push_back(std::move(f));
    }
    q.AppendAll(std::move(tasks), std::move(finished));
    if (!SaveJobs(q, File, {})) {
        std::fprintf(stderr, "%s: cannot write %s\n", Program, File.c_str());
        std::exit(1);
    }
}

} // namespace quillo::bench
