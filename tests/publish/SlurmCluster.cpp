#include "tests/publish/SlurmCluster.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kNode = "farmnode";

std::string HostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host = name;
    return host.substr(0, host.find('.'));
}

long MemoryMegabytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long kilobytes = 0;
    meminfo >> key >> kilobytes;
    return kilobytes / 1024;
}

bool WaitFor(const std::function<bool()>& ready, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ready();
}
}  // namespace

std::string SlurmCluster::Unavailable()
{
    if (geteuid() != 0)
        return "the Slurm daemons run as root here (SlurmUser=root); run the test as root";
    for (const char* program : {"/usr/sbin/munged", "/usr/sbin/slurmctld", "/usr/sbin/slurmd", "/usr/bin/sbatch"})
        if (access(program, X_OK) != 0)
            return std::string(program) + " is missing: scripts/install-deps.sh --test installs munge and slurm-wlm";
    return {};
}

SlurmCluster::SlurmCluster(const fs::path& folder) : folder_(folder), conf_(folder / "slurm.conf")
{
    fs::create_directories(folder_ / "state");
    fs::create_directories(folder_ / "spool");
    // munged refuses a key or socket folder others may write to.
    chmod(folder_.c_str(), 0711);
    std::random_device random;
    std::string key;
    for (int i = 0; i < 1024; ++i)
        key += static_cast<char>(random() & 0xFF);
    const fs::path key_file = folder_ / "munge.key";
    WriteFileBytes(key_file, key);
    chmod(key_file.c_str(), 0400);
    const fs::path socket = folder_ / "munge.socket";
    // --force: munged refuses to run as root without it.
    munged_.Start({"/usr/sbin/munged", "--foreground", "--force", "--key-file=" + key_file.string(),
                   "--socket=" + socket.string(), "--log-file=" + (folder_ / "munged.log").string(),
                   "--pid-file=" + (folder_ / "munged.pid").string(), "--seed-file=" + (folder_ / "munged.seed").string()},
                  folder_ / "munged.out", 0);
    if (!WaitFor([&] { return fs::exists(socket); }, 15)) {
        why_ = "munged did not start" + Logs();
        return;
    }
    const int controller_port = FreePort(), node_port = FreePort();
    const std::string f = folder_.string();
    std::ofstream conf(conf_);
    conf << "ClusterName=farmtest\n"
         << "SlurmctldHost=" << HostName() << "(127.0.0.1)\n"
         << "SlurmctldPort=" << controller_port << "\nSlurmdPort=" << node_port << "\n"
         << "SlurmUser=root\nSlurmdUser=root\n"
         << "AuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=" << socket.string() << "\n"
         << "StateSaveLocation=" << f << "/state\nSlurmdSpoolDir=" << f << "/spool\n"
         << "SlurmctldPidFile=" << f << "/slurmctld.pid\nSlurmdPidFile=" << f << "/slurmd.pid\n"
         << "SlurmctldLogFile=" << f << "/slurmctld.log\nSlurmdLogFile=" << f << "/slurmd.log\n"
         << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
         << "SchedulerType=sched/builtin\nSelectType=select/cons_tres\nSelectTypeParameters=CR_Core\n"
         // A task that waits for a free core, or a job for the array it depends on, starts
         // within a second of its turn rather than at the next two-second scheduling pass.
         << "SchedulerParameters=sched_interval=1,sched_min_interval=100000\n"
         << "MpiDefault=none\nReturnToService=2\nJobAcctGatherType=jobacct_gather/none\n"
         << "AccountingStorageType=accounting_storage/none\nMailProg=/bin/true\n"
         // A finished job stays visible long enough for the test to read its state.
         << "MinJobAge=300\n"
         << "NodeName=" << kNode << " NodeAddr=127.0.0.1 NodeHostname=" << HostName()
         << " CPUs=" << std::thread::hardware_concurrency() << " RealMemory=" << MemoryMegabytes()
         << " State=UNKNOWN\n"
         << "PartitionName=farm Nodes=" << kNode << " Default=YES MaxTime=INFINITE State=UP\n";
    conf.close();
    if (!slurmctld_.Start({"/usr/sbin/slurmctld", "-D", "-f", conf_.string()}, folder_ / "slurmctld.out",
                          controller_port) ||
        !slurmd_.Start({"/usr/sbin/slurmd", "-D", "-f", conf_.string(), "-N", kNode}, folder_ / "slurmd.out",
                       node_port)) {
        why_ = "slurmctld or slurmd did not start" + Logs();
        return;
    }
    std::string nodes;
    running_ = WaitFor(
        [&] {
            return Command({"sinfo", "--noheader", "--format=%T"}, &nodes) == 0 &&
                   nodes.find("idle") != std::string::npos;
        },
        30);
    if (!running_)
        why_ = "the node never became idle (sinfo: " + nodes + ")" + Logs();
}

SlurmCluster::~SlurmCluster()
{
    // The node first, so that no job step outlives it; the daemons by their own IDs.
    slurmd_.Stop();
    slurmctld_.Stop();
    munged_.Stop();
}

int SlurmCluster::Command(std::vector<std::string> argv, std::string* output) const
{
    // RunTool runs a program without a shell and takes the environment from this process.
    setenv("SLURM_CONF", conf_.c_str(), 1);
    if (argv[0].find('/') == std::string::npos)
        argv[0] = "/usr/bin/" + argv[0];
    return RunTool(argv, "", output);
}

std::string SlurmCluster::JobState(const std::string& id) const
{
    std::string out;
    Command({"squeue", "--noheader", "--states=all", "--format=%T", "--jobs=" + id}, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool SlurmCluster::WaitIdle(int seconds) const
{
    return WaitFor(
        [&] {
            std::string out;
            return Command({"squeue", "--noheader", "--states=PENDING,RUNNING,CONFIGURING,COMPLETING,REQUEUED"},
                           &out) == 0 &&
                   out.empty();
        },
        seconds);
}

std::string SlurmCluster::Logs() const
{
    std::string logs;
    for (const char* name : {"munged.out", "munged.log", "slurmctld.out", "slurmctld.log", "slurmd.out", "slurmd.log"})
        logs += std::string("\n--- ") + name + "\n" + ReadFileBytes(folder_ / name);
    return logs;
}
