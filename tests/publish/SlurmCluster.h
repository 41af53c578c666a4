// A Slurm cluster of one node for one test, on loopback: munged with its own key and
// socket, slurmctld and slurmd with a slurm.conf of their own (free ports, state and
// spool in the test's folder, one node with this machine's cores), all run as root and
// stopped by their process IDs when the object goes. Commands such as sbatch reach it
// through SLURM_CONF, which Env() gives.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/publish/TransportServers.h"

class SlurmCluster {
public:
    // Why no cluster can run here (not root, a program missing), or empty.
    static std::string Unavailable();

    explicit SlurmCluster(const std::filesystem::path& folder);
    ~SlurmCluster();
    SlurmCluster(const SlurmCluster&) = delete;
    SlurmCluster& operator=(const SlurmCluster&) = delete;

    // True once the node takes jobs; otherwise `Why()` says what failed (with the logs).
    bool Running() const { return running_; }
    const std::string& Why() const { return why_; }
    const std::filesystem::path& Conf() const { return conf_; }

    // Runs a Slurm command (sbatch, scancel, squeue, ...) or a script that calls them,
    // against this cluster; its exit status, with standard output in `output`.
    int Command(std::vector<std::string> argv, std::string* output = nullptr) const;
    // The state of a job or array element ("PENDING", "RUNNING", "COMPLETED", ...), or
    // empty once the controller has forgotten it.
    std::string JobState(const std::string& id) const;
    // Waits until no job of the cluster is pending or running; false after `seconds`.
    bool WaitIdle(int seconds) const;

private:
    std::string Logs() const;

    std::filesystem::path folder_, conf_;
    bool running_ = false;
    std::string why_;
    ServerProcess munged_, slurmctld_, slurmd_;
};
