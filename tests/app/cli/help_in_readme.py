#!/usr/bin/env python3
"""The README's "Command line" section shows the command line's --help text word for word."""
import subprocess
import sys


def main() -> int:
    program, readme = sys.argv[1], sys.argv[2]
    help_text = subprocess.run([program, "--help"], check=True, capture_output=True,
                               text=True).stdout
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    start = text.find("## Command line")
    end = text.find("\n## ", start + 1)
    section = text[start:end]
    if "```\n" + help_text + "```\n" not in section:
        print("README's Command line section does not show the output of --help; paste it in")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
