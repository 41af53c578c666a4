"""Writes the publishing benchmark's results as Markdown (bench/publish/run.sh).

Usage: report.py MEASURES_FOLDER BOOK_FOLDER PAGES
MEASURES_FOLDER holds what run.sh or transports.sh measured. run.sh: ftp.txt,
ftp-in-place.txt (the same upload writing each file under its final name), lftp.txt
and service.txt (seconds per repetition, one a line), service-times-R.txt (each exchange of repetition R:
seconds and request body bytes), service-memory.txt (the service's peak resident kB per
repetition) and, when the concurrency case ran, many/ with publishers.txt, seconds.txt
(each publisher's total), wall.txt, memory.txt, files.txt and times-*.txt.
transports.sh: sftp.txt, rclone.txt, rclone-one.txt, ftps.txt and lftp-ftps.txt, and
sftp-in-place.txt and ftps-in-place.txt (seconds per repetition, one a line).
transports.sh --replace: replace-T.txt and replace-T-in-place.txt for T in ftp, ftps and
sftp (seconds per repetition), and load-T.txt and load-T-in-place.txt (the one-minute
load average before each of those runs).
"""
import glob
import math
import os
import statistics
import sys

# The largest piece our service takes (it says so at login); larger files go in chunks.
CHUNK_BYTES = 1000 * 1024


def numbers(path):
    with open(path) as lines:
        return [float(line.split()[0]) for line in lines if line.strip()]


def exchanges(paths):
    """(seconds, request body bytes, is the login) of every exchange in the files: each
    client's second exchange is its login (the first is the probe before it)."""
    found = []
    for path in paths:
        with open(path) as lines:
            rows = [line.split() for line in lines if line.strip()]
        found += [(float(seconds), int(size), index == 1) for index, (seconds, size) in enumerate(rows)]
    return found


def percentile(values, share):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def spread(values):
    ms = [v * 1000 for v in values]
    return f"{percentile(ms, 0.5):.2f} | {percentile(ms, 0.95):.2f} | {max(ms):.1f}"


def runs(values):
    return " ".join(f"{v:.2f}" for v in values)


def book_facts(book):
    sizes = [os.path.getsize(os.path.join(folder, name)) for folder, _, names in os.walk(book) for name in names]
    chunks = sum(-(-size // CHUNK_BYTES) for size in sizes if size > CHUNK_BYTES)
    return len(sizes), sum(sizes), chunks


def transports(measures):
    ours_sftp, rclone, rclone_one, ours_ftps, lftp = (
        numbers(os.path.join(measures, f"{name}.txt")) for name in ("sftp", "rclone", "rclone-one", "ftps", "lftp-ftps"))
    s, r, r1, f, l = (statistics.median(v) for v in (ours_sftp, rclone, rclone_one, ours_ftps, lftp))
    print("Each repetition runs the five uploads in turn, each into a fresh remote folder on the same sshd and")
    print("vsftpd (127.0.0.1, their own configuration, one local account); every published copy is checked byte for")
    print("byte. Each upload is timed from the start of its process to its end. Our client sends one file at a time")
    print("over one connection and pins the server key's fingerprint; rclone trusts the host key through known_hosts,")
    print("lftp the certificate through ssl:ca-file. FTP with TLS: TLS 1.2 for both (under TLS 1.3 this vsftpd breaks")
    print("data connections), data connections protected for both.\n")
    print("| upload | runs (s) | median (s) |")
    print("|---|---|---|")
    def in_place_row(name):
        path = os.path.join(measures, f"{name}-in-place.txt")
        if os.path.exists(path):
            times = numbers(path)
            print(f"| the same, each file written under its final name | {runs(times)} | {statistics.median(times):.2f} |")

    print(f"| upload plan over SFTP (sshd, internal-sftp) | {runs(ours_sftp)} | {s:.2f} |")
    in_place_row("sftp")
    print(f"| rclone copy over SFTP, defaults (4 transfers at once) | {runs(rclone)} | {r:.2f} |")
    print(f"| rclone copy over SFTP, --transfers 1 | {runs(rclone_one)} | {r1:.2f} |")
    print(f"| upload plan over FTP with TLS (vsftpd) | {runs(ours_ftps)} | {f:.2f} |")
    in_place_row("ftps")
    print(f"| lftp mirror -R over FTP with TLS | {runs(lftp)} | {l:.2f} |")
    print(f"\nratio SFTP upload plan / rclone (defaults): {s / r:.2f} (goal: at most 1.0)")
    print(f"ratio SFTP upload plan / rclone --transfers 1: {s / r1:.2f} (same number of connections)")
    print(f"ratio FTPS upload plan / lftp: {f / l:.2f} (goal: at most 1.2)")
    for name, whole in (("SFTP", s), ("FTPS", f)):
        in_place = os.path.join(measures, f"{name.lower()}-in-place.txt")
        if os.path.exists(in_place):
            print(f"ratio {name} whole files (temporary name, then rename) / written in place: "
                  f"{whole / statistics.median(numbers(in_place)):.2f} (goal: at most 1.1)")


def replacement(measures):
    print("Each repetition republishes the book over each transport into a folder that already holds every file")
    print("of it (without its manifest, so every file is sent again), once renaming each finished upload over the")
    print("old file and once writing each file under its final name; which goes first alternates. Every published")
    print("copy is checked byte for byte; each upload is timed from the start of its process to its end.\n")
    print("| transport | renames: runs (s) | median | in place: runs (s) | median | renames / in place | load (1 min) |")
    print("|---|---|---|---|---|---|---|")
    for name, label in (("ftp", "FTP (pyftpdlib)"), ("ftps", "FTP with TLS (vsftpd)"), ("sftp", "SFTP (sshd)")):
        whole = numbers(os.path.join(measures, f"replace-{name}.txt"))
        in_place = numbers(os.path.join(measures, f"replace-{name}-in-place.txt"))
        loads = numbers(os.path.join(measures, f"load-{name}.txt")) + \
            numbers(os.path.join(measures, f"load-{name}-in-place.txt"))
        w, i = statistics.median(whole), statistics.median(in_place)
        print(f"| {label} | {runs(whole)} | {w:.2f} | {runs(in_place)} | {i:.2f} | {w / i:.2f} | "
              f"{min(loads):.2f} to {max(loads):.2f} |")
    print("\nGoal: renames / in place at most 1.10 for each transport.")


def main(measures, book, pages):
    files, size, chunks = book_facts(book)
    if os.path.exists(os.path.join(measures, "replace-sftp.txt")):
        print(f"# Republishing a {pages}-page book with every file replaced ({files} files, {size / 1e6:.1f} MB, loopback)\n")
        replacement(measures)
        return
    if os.path.exists(os.path.join(measures, "sftp.txt")):
        print(f"# Publishing a {pages}-page book by SFTP and FTP with TLS ({files} files, {size / 1e6:.1f} MB, loopback)\n")
        transports(measures)
        return
    ours, peer, service = (numbers(os.path.join(measures, f"{name}.txt")) for name in ("ftp", "lftp", "service"))
    in_place = numbers(os.path.join(measures, "ftp-in-place.txt"))
    o, p, s = statistics.median(ours), statistics.median(peer), statistics.median(service)
    i = statistics.median(in_place)
    print(f"# Publishing a {pages}-page book ({files} files, {size / 1e6:.1f} MB, loopback)\n")
    print("Each repetition runs the three uploads in turn, each into a fresh remote folder (the service: a fresh")
    print("service, data folder and account); every published copy is checked byte for byte. Both uploads of our")
    print("client use the upload plan; the pause before each chunk sent to the service (`http_wait_after_upld_chunk`,")
    print(f"a user setting) is at its least, 1 ms; with pieces of up to 1000 KiB (the size the service announces")
    print(f"at login) this book has {chunks} chunks, and every other file goes whole in one request. The service")
    print("publication is staged and committed in one step at its end, as a job does.\n")
    print("| upload | runs (s) | median (s) |")
    print("|---|---|---|")
    print(f"| upload plan to the FTP server (pyftpdlib) | {runs(ours)} | {o:.2f} |")
    print(f"| the same, each file written under its final name | {runs(in_place)} | {i:.2f} |")
    print(f"| lftp mirror -R to the FTP server | {runs(peer)} | {p:.2f} |")
    print(f"| upload plan to vellumark-service | {runs(service)} | {s:.2f} |")
    print(f"\nratio FTP upload plan / lftp: {o / p:.2f} (goal: at most 1.2)")
    print(f"ratio whole files (temporary name, then rename) / written in place: {o / i:.2f} (goal: at most 1.1)")
    print(f"ratio service / FTP upload plan: {s / o:.2f} (goal: at most 1.0)\n")

    single = sorted(glob.glob(os.path.join(measures, "service-times-*.txt")))
    if single:
        all_times = exchanges(single)
        per_run = sum(t for t, _, _ in all_times) / len(single)
        probes = [t for t, size, _ in all_times if size == 0]
        uploads = [t for t, size, login in all_times if size > 0 and not login]
        logins = [t for t, _, login in all_times if login]
        memory = numbers(os.path.join(measures, "service-memory.txt"))
        print(f"Where the service run's time goes (mean of {len(single)} runs): "
              f"{len(all_times) // len(single)} exchanges took {per_run:.2f} s; the rest of "
              f"{statistics.mean(service) - per_run:.2f} s is the client's own (hashing the book for its manifest, the pauses before chunks). "
              f"Service peak memory {max(memory) / 1024:.0f} MB.\n")
        print("| exchanges (one service, one publisher) | count per run | p50 (ms) | p95 (ms) | max (ms) |")
        print("|---|---|---|---|---|")
        print(f"| empty probe before each message | {len(probes) // len(single)} | {spread(probes)} |")
        print(f"| login | 1 | {spread(logins)} |")
        print(f"| metadata, files and chunks | {len(uploads) // len(single)} | {spread(uploads)} |")

    many = os.path.join(measures, "many")
    if os.path.isdir(many):
        publishers = int(numbers(os.path.join(many, "publishers.txt"))[0])
        totals = numbers(os.path.join(many, "seconds.txt"))
        wall = numbers(os.path.join(many, "wall.txt"))[0]
        memory = numbers(os.path.join(many, "memory.txt"))[0]
        checked = int(numbers(os.path.join(many, "files.txt"))[0])
        times = exchanges(sorted(glob.glob(os.path.join(many, "times-*.txt"))))
        logins = [t for t, _, login in times if login]
        others = [t for t, _, login in times if not login]
        print(f"\n## {publishers} publishers at once\n")
        print(f"{publishers} accounts each publish a book of their own (this book under {publishers} job keys) at the")
        print(f"same time, each from its own client process with the upload plan; all {checked} files of the")
        print(f"{publishers} books were checked byte for byte afterwards.\n")
        print(f"All published in {wall:.1f} s (one publisher: median {statistics.median(totals):.1f} s, slowest "
              f"{max(totals):.1f} s); service peak memory {memory / 1024:.0f} MB.\n")
        print("| answer times | exchanges | p50 (ms) | p95 (ms) | max (ms) |")
        print("|---|---|---|---|---|")
        print(f"| every exchange | {len(times)} | {spread([t for t, _, _ in times])} |")
        print(f"| logins (each a slow password check) | {len(logins)} | {spread(logins)} |")
        print(f"| probes, metadata, files and chunks | {len(others)} | {spread(others)} |")
        print("\nAnswer times are measured in each client around each exchange (request sent, answer read).")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1], sys.argv[2], sys.argv[3])
