"""`python -m quarrow ARGS` runs the quarrow program, as `quarrow ARGS` does.

The program is native and installed with this module (into the environment's
scripts folder); this looks for it there and hands over the process to it, so its
output, progress display and exit status are the program's own.
"""

import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path


def find_program() -> str | None:
    """The installed quarrow program: the scripts folder of the installation that
    holds this module first (a `pip install --target DIR` puts it in DIR/bin, or
    DIR/Scripts on Windows), then beside the interpreter, then the PATH."""
    name = "quarrow.exe" if os.name == "nt" else "quarrow"
    package_dir = Path(__file__).resolve().parent
    folders = []
    for scheme in sysconfig.get_scheme_names():
        try:
            paths = sysconfig.get_paths(scheme)
        except KeyError:
            continue
        if any(Path(paths.get(key, "")).resolve() == package_dir.parent for key in ("platlib", "purelib")):
            folders.append(paths["scripts"])
    # `pip install --target DIR`: no scheme names DIR; its scripts folder is beside the package.
    folders += [str(package_dir.parent / "bin"), str(package_dir.parent / "Scripts")]
    folders += [sysconfig.get_path("scripts"), os.path.dirname(sys.executable)]
    for folder in folders:
        candidate = os.path.join(folder, name)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return shutil.which(name)


def main() -> int:
    program = find_program()
    if program is None:
        sys.stderr.write("quarrow: the quarrow program is not installed beside the module\n")
        return 1
    args = [program, *sys.argv[1:]]
    sys.stdout.flush()
    sys.stderr.flush()
    if os.name == "nt":
        return subprocess.call(args)
    os.execv(program, args)
    return 1  # not reached


if __name__ == "__main__":
    sys.exit(main())
