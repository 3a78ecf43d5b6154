# The scratch data folder the window pictures show: finished uploads with their links (HTTP and
# FTP, with and without an upload name), and tasks in every state the queue keeps across a
# restart (Error, Delayed, Queued). A piece that starts the desktop program starts the service
# again with `service_start_for_gui` (the service ends with the piece that started it); the
# program then starts the first Queued task itself, so the pictures show one uploading.

service_start
FILES=$SCRATCH/files
mkdir -p "$FILES"
make_file() { head -c "$2" /dev/urandom >"$FILES/$1"; }

quillo_cli set Service.SiteHost="$QUILLO_SITE" Brimvault.UseAccount=1 Brimvault.UserName=demo \
  Brimvault.Password=demo-pass UploadManager.ParallelThreads=1 UploadManager.CalculateMD5=1 >/dev/null

make_file holiday-photos.zip 734003
make_file report-2026.pdf 48213
make_file band-rehearsal.mp3 2210331
make_file site-backup.tar.gz 1306540
quillo_cli add --method "HTTP Method" "$FILES/holiday-photos.zip" >/dev/null
quillo_cli add --method "HTTP Method" --name "Xqwert_ab3.pdf" "$FILES/report-2026.pdf" >/dev/null
quillo_cli add --method "FTP Method" "$FILES/band-rehearsal.mp3" >/dev/null
quillo_cli add --method "HTTP Method" "$FILES/site-backup.tar.gz" >/dev/null
quillo_cli run >/dev/null

# A task whose file went away before its turn ends in Error with the reason.
make_file lecture-notes.odt 91230
quillo_cli add --method "HTTP Method" "$FILES/lecture-notes.odt" >/dev/null
rm "$FILES/lecture-notes.odt"
quillo_cli run >/dev/null || true

make_file conference-talk.mkv 9437184
make_file scans-march.zip 4194304
make_file garden-timelapse.avi 15728640
make_file invoices.xlsx 120553
quillo_cli add --delayed --method "HTTP Method" "$FILES/invoices.xlsx" >/dev/null
quillo_cli add --method "HTTP Method" --name "Kdopa_re.avi" "$FILES/conference-talk.mkv" >/dev/null
quillo_cli add --method "FTP Method" "$FILES/scans-march.zip" >/dev/null
quillo_cli add --method "HTTP Method" "$FILES/garden-timelapse.avi" >/dev/null
quillo_cli list
quillo_cli finished
