"""pip installs the package from the source tree, without the network, and it loads the
library."""
import os
import shutil
import subprocess
import sys

from conftest import PYTHON_DIR


def test_pip_installs_the_package_into_a_venv(tmp_path):
    source = tmp_path / "source"
    # A copy: the build leaves build/ and *.egg-info beside the sources.
    ignore = shutil.ignore_patterns("tests", "build", "*.egg-info")
    shutil.copytree(PYTHON_DIR, source, ignore=ignore)
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    python = str(venv / "bin" / "python")
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    pip = subprocess.run([python, "-m", "pip", "install", "-q", "--no-index",
                          "--no-build-isolation", str(source)], env=env, capture_output=True,
                         text=True)
    assert pip.returncode == 0, pip.stdout + pip.stderr
    out = subprocess.run(
        [python, "-c", "import ferry; print(ferry.__file__, ferry.library_version)"],
        check=True, env=env, capture_output=True, text=True, cwd=tmp_path).stdout
    assert out.startswith(str(venv)) and out.split()[1] == "1.1.0", out
