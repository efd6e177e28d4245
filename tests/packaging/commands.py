"""Commands of the packaging tests, run with nothing around that points at a build folder, at
another package or at a disabled build isolation."""

import os
import subprocess

LEAKING = ("PYTHONPATH", "PYTHONHOME", "PIP_NO_BUILD_ISOLATION", "TARNEX_MODULE_DIR",
           "TARNEX_SCALE_BEYOND_4GIB")


def clean_env(**extra):
    env = {key: value for key, value in os.environ.items() if key not in LEAKING}
    env.update(extra)
    return env


def run(args, env=None, **kwargs):
    return subprocess.run(list(map(str, args)), capture_output=True, text=True,
                          env=clean_env() if env is None else env, stdin=subprocess.DEVNULL,
                          check=False, **kwargs)


def run_ok(args, **kwargs):
    completed = run(args, **kwargs)
    assert completed.returncode == 0, (
        f"{' '.join(map(str, args))} failed ({completed.returncode}):\n"
        f"{completed.stdout}\n{completed.stderr}")
    return completed
