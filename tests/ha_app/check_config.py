#!/usr/bin/env python3
"""The Home Assistant app's configuration against the app linter's rules and varnel's own
code: the Supervisor refuses or warns on the first kind, varnel refuses an option it does
not know at start-up (one line, and the app stays stopped), so both are caught here.
  check_config.py REPO_ROOT"""
import os
import re
import sys
from pathlib import Path

import yaml

REQUIRED = ("name", "version", "slug", "description", "url", "arch", "image")
ARCHES = {"amd64", "aarch64"}
# What the Supervisor assumes when a key is left out: the linter refuses saying it.
DEFAULTS = {
    "advanced": False, "apparmor": True, "audio": False, "auth_api": False, "backup": "hot",
    "boot": "auto", "devicetree": False, "docker_api": False, "full_access": False, "gpio": False,
    "hassio_api": False, "hassio_role": "default", "homeassistant_api": False, "host_dbus": False,
    "host_ipc": False, "host_network": False, "host_pid": False, "host_uts": False,
    "ingress": False, "ingress_port": 8099, "ingress_entry": "/", "ingress_stream": False,
    "init": True, "journald": False, "kernel_modules": False, "panel_admin": True,
    "panel_icon": "mdi:puzzle", "realtime": False, "stage": "stable", "startup": "application",
    "stdin": False, "timeout": 10, "tmpfs": False, "uart": False, "udev": False, "usb": False,
    "video": False,
}
FORBIDDEN = ("watchdog", "build_from")
# Options that exist only in the app (app/ha_app.cpp), besides the settings rows.
APP_ONLY = re.compile(r'\{"(\w+)", "\w+"\}|\.key = "(\w+)", \.appOption = true')


def app_options(root):
    """The option names varnel takes from /data/options.json."""
    rows = (root / "app/run_settings.cpp").read_text().split("{.key = ")[1:]
    names = {r.split('"')[1] for r in rows if ".appOption = true" in r}
    for m in APP_ONLY.finditer((root / "app/ha_app.cpp").read_text()):
        names.add(m.group(1) or m.group(2))
    return names


def problems(root):
    app = root / "packaging/home-assistant/varnel"
    config = yaml.safe_load((app / "config.yaml").read_text())
    tr = yaml.safe_load((app / "translations/en.yaml").read_text()) or {}
    version = re.search(r"project\(varnel VERSION ([\d.]+)", (root / "CMakeLists.txt").read_text()).group(1)
    named = (tr.get("configuration") or {})
    known = app_options(root)
    out = [f"missing key {k}" for k in REQUIRED if k not in config]
    out += [f"arch {a}: not amd64 or aarch64" for a in config.get("arch", []) if a not in ARCHES]
    out += [f"{k}: {v!r} is the default, leave it out" for k, v in config.items()
            if k in DEFAULTS and v == DEFAULTS[k] and type(v) is type(DEFAULTS[k])]
    out += [f"{k}: not allowed" for k in FORBIDDEN if k in config]
    if str(config.get("version")) != version:
        out.append(f"version {config.get('version')!r} is not the project's {version}")
    if config.get("slug") != "varnel":
        out.append("slug: not varnel")
    if ":" in str(config.get("image", "")).rsplit("/", 1)[-1] or "{arch}" in str(config.get("image", "")):
        out.append("image: one multi-arch name without a tag (the tag is the version)")
    if config.get("ingress") is not True:
        out.append("ingress: must be true")
    port = f"{config.get('ingress_port', DEFAULTS['ingress_port'])}/tcp"
    if (config.get("ports") or {}).get(port) is not None:
        out.append(f"ports: {port} is the ingress port and must not be mapped to the host")
    out += [f"ports: {p} mapped to {h} by default (null: off)" for p, h in (config.get("ports") or {}).items()
            if h is not None]
    schema, options = config.get("schema") or {}, config.get("options") or {}
    out += [f"option {k}: no schema entry" for k in options if k not in schema]
    out += [f"option {k}: not in translations/en.yaml" for k in schema
            if not (named.get(k) or {}).get("name") or not (named.get(k) or {}).get("description")]
    out += [f"option {k}: varnel does not take it" for k in schema if k not in known]
    out += [f"translations/en.yaml: {k} is no option" for k in named if k not in schema]
    out += [f"translations/en.yaml: port {p} not described" for p in (config.get("ports") or {})
            if p not in (tr.get("network") or {})]
    for name in ("DOCS.md", "CHANGELOG.md", "icon.png", "logo.png"):
        if not (app / name).is_file():
            out.append(f"{name}: missing")
    if not (root / "repository.yaml").is_file() or "name" not in yaml.safe_load((root / "repository.yaml").read_text()):
        out.append("repository.yaml: missing or without name")
    # The Supervisor takes every config.yaml in the repository for an app.
    for top, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith(".") and not (Path(top) / d / "CMakeCache.txt").exists()]
        if "config.yaml" in files and Path(top) != app:
            out.append(f"{Path(top, 'config.yaml').relative_to(root)}: a second config.yaml")
    return out


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2])
    out = problems(root)
    for p in out:
        print(f"home-assistant app: {p}")
    return 1 if out else 0


if __name__ == "__main__":
    sys.exit(main())
