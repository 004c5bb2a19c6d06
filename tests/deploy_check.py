#!/usr/bin/python3
"""The deployment examples hold what a sharded deployment depends on."""
import re, subprocess, sys
import yaml

kube, slurm_path = sys.argv[1] + "/deploy/kubernetes/", sys.argv[1] + "/deploy/slurm/strandor.sbatch"
job, cron, claim = (yaml.safe_load(open(kube + f)) for f in ("job.yaml", "cronjob.yaml", "volume.yaml"))
spec = job["spec"]
pod = spec["template"]["spec"]
box = pod["containers"][0]
opt = dict(zip(box["args"][::2], box["args"][1::2]))
mounts = {m["name"]: m["mountPath"] for m in box["volumeMounts"]}
shared = [v["name"] for v in pod["volumes"] if v.get("persistentVolumeClaim", {}).get("claimName") == claim["metadata"]["name"]]
slurm = open(slurm_path).read()
checks = {
    "an Indexed Job, not restarted in place": job["kind"] == "Job" and spec["completionMode"] == "Indexed"
    and pod["restartPolicy"] == "Never",
    "completions = parallelism = N of -s $(JOB_COMPLETION_INDEX)/N": spec["parallelism"] == spec["completions"]
    and opt["-s"] == "$(JOB_COMPLETION_INDEX)/%d" % spec["completions"],
    "a core for each worker of -t": box["resources"]["requests"]["cpu"] == box["resources"]["limits"]["cpu"] == opt["-t"],
    "input, output and quarantine on one ReadWriteMany volume": claim["spec"]["accessModes"] == ["ReadWriteMany"]
    and len(shared) == 1 and all(opt[o].startswith(mounts[shared[0]] + "/") for o in ("-i", "-o", "-e")),
    "a CronJob of the same Job every 15 minutes, never two at once": cron["kind"] == "CronJob"
    and cron["spec"]["schedule"] == "*/15 * * * *" and cron["spec"]["concurrencyPolicy"] == "Forbid"
    and cron["spec"]["jobTemplate"]["spec"] == spec,
    "a Slurm array 0-(N-1), -s TASK_ID/TASK_COUNT, a core per worker": re.search(r"^#SBATCH --array=0-\d+$", slurm, re.M)
    and re.search(r"^#SBATCH --cpus-per-task=\d+$", slurm, re.M) and '-t "$SLURM_CPUS_PER_TASK"' in slurm
    and '-s "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT"' in slurm,
    "a Slurm quarantine beside the input": re.search(r"-i (/\S+)/input .* -e \1/quarantine$", slurm, re.M | re.S),
    "a Slurm script that bash reads": subprocess.run(["bash", "-n", slurm_path]).returncode == 0,
}
failed = [name for name, ok in checks.items() if not ok]
print("".join("FAIL: %s\n" % name for name in failed) + "%d passed, %d failed" % (len(checks) - len(failed), len(failed)))
sys.exit(1 if failed else 0)
