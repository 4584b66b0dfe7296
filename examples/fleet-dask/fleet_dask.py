#!/usr/bin/python3
"""The pre-flight of `oxpm fleet` on Dask's distributed scheduler.

The machines file is cut into partitions of consecutive lines; each worker
loads the catalog once (a worker plugin, at start), resolves the partitions it
is given with the Python module `oxpm`, and the lines come back in input
order into the same summary as `oxpm fleet` writes:

    /usr/bin/python3 fleet_dask.py --spec CATALOG... [--platform NAME]
        --machines FILE [--request FILE] [--format text|json] [--summary-only]
        [--workers N | --scheduler ADDRESS] [--partition-size N]

Without --scheduler, a LocalCluster of N worker processes (one thread each)
runs on this computer; with it, the workers of that cluster must reach the
catalog files at the same paths. Exit status as `oxpm fleet`: 0 when every
machine is ok, 1 when some are not, 2 for unusable input.
"""

import argparse
import logging
import sys
import time

import oxpm
from distributed import Client, LocalCluster, WorkerPlugin, get_worker


class CatalogPlugin(WorkerPlugin):
    """Loads the catalog once in every worker, when the worker starts."""

    def __init__(self, files, platform):
        self.files = list(files)
        self.platform = platform

    def setup(self, worker):
        worker.oxpm_catalog = oxpm.Catalog(self.files, platform=self.platform)


def resolve_partition(lines, request, source):
    """The fleet lines of one partition: [(line number, text)...] in order."""
    catalog = get_worker().oxpm_catalog
    return [
        catalog.resolve_line(text, request=request, source=source, line_number=number)
        for number, text in lines
    ]


def partitions(path, size):
    """Consecutive non-blank lines of the machines file, `size` at a time."""
    chunk = []
    with open(path, encoding="utf-8", errors="surrogateescape", newline="\n") as machines:
        for number, text in enumerate(machines, start=1):
            text = text.rstrip("\n")
            if not text.strip(" \t\r"):
                continue
            chunk.append((number, text))
            if len(chunk) == size:
                yield chunk
                chunk = []
    if chunk:
        yield chunk


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spec", nargs="+", required=True, help="catalog documents, in order")
    parser.add_argument("--platform", default="")
    parser.add_argument("--machines", required=True, help="JSON lines, one machine a line")
    parser.add_argument("--request", help="the request of every machine without its own")
    parser.add_argument("--format", choices=("text", "json"), default="text")
    parser.add_argument("--summary-only", action="store_true")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--scheduler", help="address of a running scheduler")
    parser.add_argument("--partition-size", type=int, default=1000)
    parser.add_argument("--timing", action="store_true", help="time and rate on standard error")
    args = parser.parse_args(argv)

    request = None
    try:
        # The client reads what every task shares; a broken catalog stops
        # here, before any worker starts.
        oxpm.Catalog(args.spec, platform=args.platform)
        if args.request:
            with open(args.request, encoding="utf-8") as text:
                request = text.read()
            oxpm.check_request(request, source="request " + args.request)
        open(args.machines, "rb").close()
    except (OSError, ValueError) as error:
        print("fleet_dask: %s" % error, file=sys.stderr)
        return 2

    started = time.monotonic()
    if args.scheduler:
        client = Client(args.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None, silence_logs=logging.ERROR)
        client = Client(cluster)
    ready = time.monotonic()
    try:
        client.register_worker_plugin(CatalogPlugin(args.spec, args.platform), name="oxpm-catalog")
        # Each partition goes to the workers as data of its own, not inside
        # the task graph.
        futures = [client.submit(resolve_partition, client.scatter(chunk), request,
                                 args.machines, pure=False)
                   for chunk in partitions(args.machines, args.partition_size)]
        summary = oxpm.Summary()
        out = sys.stdout
        for future in futures:
            for line in future.result():
                summary.add(line)
                if not args.summary_only:
                    out.write(line + "\n" if args.format == "json" else oxpm.text_line(line))
            future.release()
        out.write(summary.json() + "\n" if args.format == "json" else summary.text())
        out.flush()
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    if args.timing:
        done = time.monotonic()
        print("fleet_dask: %d machines, cluster start %.2f s, resolution %.2f s, %.0f machines/s"
              % (summary.machines, ready - started, done - ready,
                 summary.machines / max(done - ready, 1e-9)), file=sys.stderr)
    return 0 if summary.ok == summary.machines else 1


if __name__ == "__main__":
    sys.exit(main())
