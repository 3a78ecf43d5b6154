#!/usr/bin/env bash
# Builds Quillo's libFuzzer targets with clang (own build folder, address and undefined-behaviour
# checks) and runs each one briefly on a small generated seed corpus. Exits non-zero, with a
# clear line, when a target crashes, leaks, times out or allocates more than its limit.
#   QUILLO_FUZZ_SECONDS  run time per target (default 8)
#   QUILLO_FUZZ_BUILD    build folder (default build-fuzz in the source tree)
#   QUILLO_FUZZ_SEED     random seed (default 1, so that a clean run explores the same inputs on
#                        every machine and a red run can be repeated; 0 picks a new seed each run,
#                        for longer exploratory runs)
# Inputs that once found a fault live in tests/fuzz/regressions/<name> and are replayed every run.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${QUILLO_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${QUILLO_FUZZ_SECONDS:-8}"
fuzz_seed="${QUILLO_FUZZ_SEED:-1}"

if ! command -v clang++ >/dev/null; then
    echo "FUZZ FAILED: clang++ is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi

echo "fuzz: building the targets in $build"
mkdir -p "$build"
if ! { cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
           -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 &&
       cmake --build "$build" -j2 >"$build/build.log" 2>&1; }; then
    echo "FUZZ FAILED: the fuzz targets did not build (see $build/configure.log, $build/build.log)" >&2
    tail -30 "$build/build.log" >&2 2>/dev/null || tail -30 "$build/configure.log" >&2
    exit 1
fi

mkdir -p "$build/artifacts"
# Every target starts from the generated seeds in $build/seeds/<name> and keeps what it finds in
# $build/corpus/<name>, so later runs go on from there.
seed() { # seed TARGET NAME PRINTF-FORMAT
    mkdir -p "$build/seeds/$1"
    printf "$3" >"$build/seeds/$1/$2"
}

# Seeds: an empty file, one entry of each kind, noise in front of an entry, a damaged entry.
seeds="$build/seeds/jobs"
mkdir -p "$seeds"
task='\x00\x01\x03\x00\x00\x00abc\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00d\x0b\x00\x00\x00HTTP Method\x00\x00\x00\x00\x02\x00\x00\x00\r\n\x00\x00\x00\x00'
finished='\x00\x03\x01\x00\x00\x00f\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xf0\x3f\x00\x00\x00\x00\x00\x00\x04\xc0\x0f\x00\x00\x00download-link=x'
printf '' >"$seeds/empty"
printf "$task" >"$seeds/task"
printf "$finished" >"$seeds/finished"
printf "\x07\xff$task\x42$finished" >"$seeds/noise"
printf "$task\x00\x02\xff\xff\xff\x7fxyz" >"$seeds/huge-length"
printf "$task\x00\x09$finished" >"$seeds/unknown-kind"

# Settings file: a complete file, odd line ends and comments, duplicate names, damaged values.
seed settings empty ''
seed settings full '[General]\r\nVersion=16843008\r\nFirstRun=0\r\nWindowRect=640000003200000020030000E8020000\r\nStartWithWindows=1\r\nAutostartUploading=0\r\nNotifyUploadFinished=1\r\nShutDownWhenFinished=0\r\nHibernate=0\r\nStartInStealthMode=0\r\nBossKey=4203\r\nLastMessageID=7\r\nLastUploadHost=up1.brimvault.com\r\nLastSettingsTab=2\r\nShowDropTarget=1\r\nDropLeft=-20\r\nDropTop=300\r\nUseSkin=0\r\nLanguageFile=de.lng\r\n\r\n[InternetConnection]\r\nUseProxy=1\r\nUserName=proxyuser\r\nPassword=%%53%%41%%0C\r\nProxy=127.0.0.1:3128\r\nProxyType=4\r\nBoundIP=127.0.0.1\r\n\r\n[Brimvault]\r\nUseAccount=1\r\nUserName=%%42%%50\r\nPassword=%%47%%57%%5C\r\n\r\n[UploadManager]\r\nParallelThreads=3\r\nSpeedLimit=$40\r\nAutoManageBandwidth=0\r\nSendBufferSize=0x10\r\nConnectTimeout=30\r\nReadTimeout=0\r\nRetryCount=100\r\nCalculateMD5=1\r\n\r\n[Scheduler]\r\nEnabled=1\r\nStartTime=21:30:00\r\nEndTime=7:05 AM\r\nAbortNonFinished=0\r\n\r\n[Service]\r\nSiteHost=127.0.0.1:8080\r\n'
seed settings odd-lines '; comment\rstray=1\n[ general ]\rFirstRun = 0\n\n[General]\r\nFirstRun=1\n\r[x=y]\nno equals sign\n=empty name\n[Scheduler]\nStartTime=23:59:59.600\nEndTime=12:00 PM\n'
seed settings damaged '[General]\nWindowRect=640000003200000020030000E80200ZZ\nBossKey=0x4203\nLastMessageID=99999999999\nDropLeft=-\n[InternetConnection]\nPassword=%%zz\nProxyType=999\n[Brimvault]\nUserName=%%4\nPassword=%%\n[Scheduler]\nStartTime=25:00\nEndTime=1:2:3\n'

# Replies of the service: upload server lists and upload replies.
seed http_reply empty ''
seed http_reply reply 'DOWNLOAD: http://brimvault.com/d/abc123\r\nDELETE: http://brimvault.com/k/abc123?key=x\r\n'
seed http_reply reply-odd '  delete:http://k\n\nDownload:   http://d/=x \r\rDOWNLOAD: second\n'
seed http_reply no-link 'ERROR: file too big\nDOWNLOAD:\n'
seed http_reply servers 'up1.brimvault.com, up2.brimvault.com\n"up3.brimvault.com"\t127.0.0.1:8081 [::1]:8082 bad/host "a""b" evil.com/x?y host:99999 "open'

# FTP control connection: greetings, multi-line replies, passive-mode and SIZE replies, and
# (the first two bytes a port, then fields cut at 0xFF) a firewall login.
seed ftp empty ''
seed ftp greeting '220 Welcome\r\n331 Password required\r\n230 Logged in\r\n'
seed ftp multiline '230-Hello\r\n there\r\n230-more\r\n123 inside\r\n230 done\r\n'
seed ftp passive '227 Entering Passive Mode (127,0,0,1,200,21)\r\n229 Entering Extended Passive Mode (|||50021|)\r\n213 1000\r\n227 10, 0, 0, 1, 4, 1\r\n'
seed ftp broken 'garbage\r\n550 No such file\r\n22\r\n2200\r\n229 (|||0|)\r\n213 -5\r\n'
seed ftp login '\x00\x15ftp.example\xffuser\xffsecret\xfffwuser\xfffwpass'

# Shared text routines: URLs, percent escapes, name=value lines, times, message templates.
seed utils url 'http://user:pa:ss@host.example:8080/path?q=1'
seed utils proxy 'proxy.lan:8080'
seed utils escapes '%%41%%zz+%%4'
seed utils lines 'name = value\r\nkey=v=w\n\n\xffkey\xffup to %%s (%%5d%%%%) at %%-8.3f, %%1:s %%.2n %%x %%u %%e %%'
seed utils time '9:30:00.500 PM'
# The first 32 bytes are also numbers: the most negative 64-bit integer and three doubles.
seed utils numbers '\x00\x00\x00\x00\x00\x00\x00\x80\x00\x00\x00\x00\x00\x00\xe0\x3f\x00\x00\x00\x00\x00\x00\xf0\x7f\x00\x00\x00\x00\x00\x00\x59\xc0%%1:d %%1:x %%1:u %%2:.3n %%2:e\xff7\xff'

# Program files: the version record alone behind a mode byte (odd: wrapped into an ELF file by
# the target), a damaged one, and a minimal 64-bit ELF header whose section table lies outside.
record='QUILLOVR\x01\x00\x00\x00\x48\x00\x00\x00\x02\x00\x01\x00\x2d\x00\x03\x00\x02\x00\x01\x00\x2d\x00\x03\x00040904E4\x00ProductName\x00Quillo\x00Comments\x00c\x00\x00'
seed version empty ''
seed version record "\x01$record"
seed version record32be "\x07$record"
seed version damaged "\x01QUILLOVR\x01\x00\x00\x00\xff\x00\x00\x00"
seed version elf '\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x3e\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x40\x00\x38\x00\x00\x00\x40\x00\x03\x00\x02\x00'

# Language files (the first byte picks a Codepage line and the error mode): header keys, both
# value syntaxes, resource strings, unclosed literals, codes of every size, bytes no code page maps.
seed language empty ''
seed language full '\x01; first line\r\nHumanize=0\r\n[TSettingsBox]\r\nCaption{Settings}='"'"'Einstellungen'"'"'\r\nComboBox2.Items.x='"'"'8 KB'"'"' '"'"'32 KB'"'"' + '"'"'x'"'"'#13#10'"'"'y'"'"'\r\n(x)Old=1\r\n(!)New=2\r\n[RESOURCESTRINGS]\r\n65036_Idle='"'"'Bereit.'"'"'\r\n65038_U=#65#66#4294967296\r\nbad_x=1\r\n[TMainWindow]\r\n=bad\r\n'
seed language humanized '\x03x\nHumanize=1\nHumanizeDivider=<br>\n[TForm1]\nLines=a<br>b\\c\n[RESOURCESTRINGS]\n65048_C=one<br>two\n'
seed language broken '\x82x\n[TForm1]\nCaption='"'"'open\n[(x)TGone]\n#\n'"'"''"'"''"'"''"'"'\xff\xfe\x81\x40\n'
seed language cp932 '\x04x\n[TForm1]\nCaption='"'"'\x82\xa0\x82'"'"'\n'

status=0
for target in jobs_fuzz settings_fuzz http_reply_fuzz ftp_fuzz utils_fuzz version_fuzz language_fuzz; do
    name="${target%_fuzz}"
    log="$build/$target.log"
    mkdir -p "$build/corpus/$name"
    regressions=()
    [ -d "$root/tests/fuzz/regressions/$name" ] && regressions=("$root/tests/fuzz/regressions/$name")
    echo "fuzz: running $target for ${seconds}s"
    if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 \
        -max_len=65536 -seed="$fuzz_seed" -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 \
        "$build/corpus/$name" "$build/seeds/$name" "${regressions[@]}" >"$log" 2>&1; then
        echo "fuzz: $target OK ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?') runs)"
    else
        echo "FUZZ FAILED: $target found a problem; reproducer in $build/artifacts/, log $log" >&2
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -30 "$log" >&2
        status=1
    fi
done
exit $status
