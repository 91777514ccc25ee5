#!/usr/bin/env python3
"""End-to-end runs of the real vantoup.exe under Wine on a private Xvfb display.

Each case prepares the registry key, the installed vanto.exe and the download folder, starts the
download server when it needs one, runs vantoup.exe, watches and drives its windows with the probe,
takes a screenshot of every state into the work folder and checks the exit code and the files.
Ends with the line "N passed, M failed". A case that needs a program built with the test key,
given none, is a failure.

VANTO_E2E_CASES, a list of case names, keeps a run without named cases to those of its set (the
plain ones, or with --signed-only the signed ones): the emulated machine of scripts/test, where a
case takes ten times as long, runs only the program's main ways. A name that is no case fails."""

import argparse
import os
import re
import sys
import time
import traceback

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases_bad_input  # noqa: E402
import cases_site  # noqa: E402
import cases_startup  # noqa: E402
import cases_upgrade  # noqa: E402
from e2e_context import Run  # noqa: E402
from harness import CaseFailure, Display, Probe, Wine, WineHang  # noqa: E402

CASES = cases_startup.CASES + cases_upgrade.CASES + cases_bad_input.CASES + cases_site.CASES
SIGNED_CASES = cases_upgrade.SIGNED_CASES + cases_site.SIGNED_CASES


def read_control_ids(header):
    """Control IDs by name from the program's header (kLblStateId -> "LblState")."""
    with open(header, encoding="utf-8") as source:
        return {m.group(1): int(m.group(2))
                for m in re.finditer(r"\bk(\w+)Id\s*=\s*(\d+)", source.read())}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("vantoup", "probe", "installer", "server", "control-ids", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--signing-key",
                        help="private key matching the public key built into vantoup.exe: "
                        "installers are signed with it and the refusal cases run too")
    parser.add_argument("--site-tool", help="vanto-site.exe, which makes a site for nginx")
    parser.add_argument("--vendor-installer",
                        help="a vendor's installer built with makensis (vendor_setup.nsi), "
                        "served from the nginx site instead of the stand-in installer")
    parser.add_argument("--signed-only", action="store_true",
                        help="the cases of signed installers only, and the upgrade that must pass the "
                        "check (they need --signing-key)")
    parser.add_argument("cases", nargs="*",
                        help="only these cases (default: all but the signed ones, which run "
                        "with --signing-key or --signed-only)")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    if args.cases:
        selected = [c for c in CASES + SIGNED_CASES if c[0] in args.cases]
    elif args.signed_only:
        # With a key, the plain upgrade is the one whose installer must pass the check.
        selected = [c for c in CASES if c[0] == "upgrade-1.5-to-2.0"] + SIGNED_CASES
    else:
        selected = CASES + (SIGNED_CASES if args.signing_key else [])
    unknown = sorted(set(args.cases) - {name for name, _ in selected})
    chosen = os.environ.get("VANTO_E2E_CASES", "").split()
    left_out = []
    if chosen and not args.cases:
        unknown = sorted(set(chosen) - {name for name, _ in CASES + SIGNED_CASES})
        left_out = [name for name, _ in selected if name not in chosen]
        selected = [c for c in selected if c[0] in chosen]
    signed = {name for name, _ in SIGNED_CASES}
    cannot_run = [] if args.signing_key else [name for name, _ in selected if name in signed]
    selected = [c for c in selected if c[0] not in cannot_run]

    started = time.monotonic()
    display = Display(os.path.join(args.work, "xvfb.log"))
    wine = None
    passed = failed = 0
    for name in unknown:
        failed += 1
        print(f"FAIL {name}: no such case", flush=True)
    for name in cannot_run:
        failed += 1
        print(f"FAIL {name}: needs a program built with the test key (--signing-key)", flush=True)
    reruns = []
    try:
        wine = Wine(args.work, display)
        run = Run(args, display, wine, Probe(wine, args.probe), read_control_ids(args.control_ids))
        for name, case in selected:
            case_start = time.monotonic()
            for attempt in (1, 2):
                try:
                    run.begin(name)
                    case(run)
                    passed += 1
                    print(f"PASS {name} ({time.monotonic() - case_start:.1f} s)", flush=True)
                    break
                except Exception as error:  # a broken case must not stop the others
                    run.shot("failed")
                    detail = str(error) if isinstance(error, CaseFailure) \
                        else traceback.format_exc()
                    run.end()
                    # A program of the harness that did not end, while Wine's server spins in a
                    # loop of its own, says nothing of vantoup.exe (WoW64 Wine 10 loops for good
                    # now and then in a FindWindowEx that goes on from a window found before, a
                    # search the probe no longer makes): that case runs again in a new session,
                    # once. Any other failure is the case's, however busy the server looks.
                    hung = isinstance(error, WineHang)
                    looping = hung and wine.hung()
                    if hung or wine.hung():
                        wine.restart()
                    if looping and attempt == 1:
                        reruns.append(name)
                        print(f"HANG {name}: Wine's server stopped answering ({detail}); "
                              "the case again in a new session", flush=True)
                        continue
                    if looping:
                        detail = f"Wine's server stopped answering again ({detail})"
                    failed += 1
                    print(f"FAIL {name}: {detail}", flush=True)
                    break
                finally:
                    run.end()
    finally:
        if wine:
            wine.stop()
        display.stop()
    print(f"e2e run took {time.monotonic() - started:.0f} s; screenshots in {args.work}")
    if left_out:
        print(f"NOT RUN (VANTO_E2E_CASES): {len(left_out)} cases: {' '.join(left_out)}")
    print(f"{passed} passed, {failed} failed" +
          (f", {len(reruns)} run again after a hang of Wine ({', '.join(reruns)})"
           if reruns else ""))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
