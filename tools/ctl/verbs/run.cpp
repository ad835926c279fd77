// brelo-ctl run: runs the queries of a query file and prints their results.

#include <unistd.h>

#include <iostream>

#include "ctl/query_runner.hpp"
#include "ctl/verbs/all.hpp"
#include "lib/session.hpp"

namespace brelo_ctl {
namespace {
const Option csv{.name = "--csv",
                 .help = "results as CSV, or as JSON Lines",
                 .label = "--csv, --json"};
const Option json{.name = "--json"};
const Option until{.name = "--until",
                   .kind = Option::Kind::integer,
                   .value = "S",
                   .help = "stop at virtual second S (instead of the file's 'until')",
                   .whole_low = 1,
                   .whole_high = 1000000,
                   .complaint = "--until takes whole virtual seconds"};
const Option motes{.name = "--motes",
                   .kind = Option::Kind::integer,
                   .value = "N",
                   .help = "simulate N motes (instead of the file's 'motes')",
                   .whole_low = 1,
                   .whole_high = 1000,
                   .complaint = "--motes takes a number of motes from 1 to 1000"};
const Option seed{.name = "--seed",
                  .kind = Option::Kind::integer,
                  .value = "N",
                  .help = "the simulation's seed (default: the file's, or 1)",
                  .whole_low = 0,
                  .whole_high = 2147483647,
                  .complaint = "--seed takes a number from 0 to 2147483647"};
const Option adc{.name = "--adc",
                 .kind = Option::Kind::text,
                 .value = "SETTINGS",
                 .help = "ADC values as in the file, ';' between settings:\n"
                         "--adc \"1 light 800; 2-3 temperature 400\"",
                 .repeatable = true};
const Option link{.name = "--link",
                  .kind = Option::Kind::text,
                  .value = "SETTINGS",
                  .help = "link bit-error probabilities: --link \"1 0 0.01\"\n"
                          "(both may be given more than once; links make the\n"
                          "simulation use the lossy radio model)",
                  .repeatable = true};
const Option topology{.name = "--topology",
                      .kind = Option::Kind::text,
                      .value = "FILE",
                      .help = "run on the links of a lossy-link file, as brelo-ctl\n"
                              "topology writes them (instead of the file's\n"
                              "'topology'); brelo gets it as -rf=FILE.\n"
                              "--lossy FILE is the same"};
const Option lossy{.name = "--lossy", .kind = Option::Kind::text, .value = "FILE"};
const Option rate{.name = "--rate",
                  .kind = Option::Kind::text,
                  .value = "F",
                  .help = "run at most F times faster than real time; 'max':\n"
                          "as fast as it goes (default: 20 when standard\n"
                          "output is a terminal, else max)"};
const Option rate_number{.name = "--rate",
                         .kind = Option::Kind::number,
                         .low = 0.001,
                         .high = 1000000,
                         .complaint = "--rate takes 'max' or a number from 0.001 to 1000000"};
const Option fast{.name = "--fast",
                  .help = "start brelo with -fast: quicker; its results agree\n"
                          "with the default mode's statistically, not record\n"
                          "for record (README, Speed)"};
const Option out{.name = "--out",
                 .kind = Option::Kind::text,
                 .value = "DIR",
                 .help = "also write the run to folder DIR: results.csv, the\n"
                         "query file, run.txt (brelo's command line, seed,\n"
                         "ports, version, commit) and delivery.csv (and\n"
                         "stats.json with --stats or --energy)"};
const Option stats{.name = "--stats",
                   .help = "at the end, print per mote on standard error: packets\n"
                           "sent, received, failed CRC, acknowledged; serial\n"
                           "packets; records written and read; results; time on\n"
                           "(docs/statistics.md)"};
const Option energy{.name = "--energy",
                    .help = "at the end, print the energy per mote and power state\n"
                            "on standard error"};
const Option figures{.name = "--figures",
                     .kind = Option::Kind::text,
                     .value = "FILE",
                     .help = "the energy's current draws and voltage from FILE\n"
                             "(brelo -energy=FILE; implies --energy)"};
const Option trace{.name = "--trace",
                   .kind = Option::Kind::text,
                   .value = "FILE",
                   .help = "brelo writes the packets of the run to FILE, a pcap\n"
                           "file for Wireshark (docs/traces.md)"};
const Option check{.name = "--check", .help = "check the file and list its messages; run nothing"};
const Option attach{.name = "--attach",
                    .help = "use the simulation already running on --port; the\n"
                            "file's times then count from now, and it goes on after"};
const Option brelo{.name = "--brelo",
                   .kind = Option::Kind::text,
                   .value = "PATH",
                   .help = "the simulator to start (default: the brelo beside\n"
                           "brelo-ctl)"};

int run_file(Invocation& call) {
  RunRequest request;
  request.file = call.words[0];
  if (auto n = call.integer(motes)) request.motes = static_cast<int>(*n);
  if (auto s = call.integer(until)) request.until = static_cast<double>(*s);
  if (auto n = call.integer(seed)) request.seed = static_cast<uint32_t>(*n);
  request.rate = ::isatty(STDOUT_FILENO) == 1 && call.out == &std::cout ? 20 : brelo_host::UNLIMITED_RATE;
  if (auto text = call.text(rate)) {
    request.rate = *text == "max" ? brelo_host::UNLIMITED_RATE : read_number(rate_number, *text);
  }
  request.fast = call.has(fast);
  request.out_dir = call.text(out);
  request.trace_file = call.text(trace);
  if (auto settings = call.text(adc)) request.adc.push_back(*settings);
  if (auto settings = call.text(link)) request.links.push_back(*settings);
  request.topology = call.text(topology);
  if (auto file = call.text(lossy)) {
    if (request.topology) throw UsageError{"give --topology or --lossy, not both"};
    request.topology = file;
  }
  if (call.has(csv) && call.has(json)) throw UsageError{"give --csv or --json, not both"};
  if (call.has(csv)) request.format = brelo_host::ResultFormat::csv;
  if (call.has(json)) request.format = brelo_host::ResultFormat::json;
  if (auto path = call.text(brelo)) request.brelo = *path;
  request.check_only = call.has(check);
  request.attach = call.has(attach);
  if (request.attach && request.trace_file) {
    throw UsageError{"--trace needs a simulation brelo-ctl starts; give the running one -trace=FILE"};
  }
  request.command_port = call.command_port;
  request.port_given = call.port_given;
  request.timeout = call.timeout;
  request.progress = call.err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
  request.stats = call.has(stats);
  request.energy_figures = call.text(figures);
  request.energy = call.has(energy) || request.energy_figures.has_value();
  if ((request.stats || request.energy) && request.attach) {
    throw UsageError{"--stats and --energy need a simulation brelo-ctl starts (not --attach)"};
  }
  return run_queries(request, *call.out, *call.err);
}
}  // namespace

Verb run_verb() {
  return {.name = "run",
          .summary = "run the queries of a query file and print their results",
          .usage =
              "usage: brelo-ctl run FILE [--csv | --json] [--until S] [--motes N] [--seed N]\n"
              "                     [--adc SETTINGS] [--link SETTINGS]\n"
              "                     [--topology FILE | --lossy FILE] [--rate F | --rate max]\n"
              "                     [--fast] [--out DIR] [--stats] [--energy]\n"
              "                     [--figures FILE] [--trace FILE] [--check] [--attach]\n"
              "                     [--brelo PATH]\n"
              "Reads and checks a query file (see docs/queries.md; nothing is sent when it\n"
              "has mistakes), starts a simulation of the file's network, installs and\n"
              "starts the queries at their virtual times and prints each result that\n"
              "mote 0 sends to the host: a table (time, mote, timestamp, epoch, fields).\n"
              "Ends at the time limit or on Ctrl-C, and ends the simulation with it.\n"
              "The simulation it starts listens on --port PORT (commands) and PORT+1\n"
              "(events), or on two free ports without --port; standard error says which,\n"
              "so that brelo-ctl --port PORT watch, var, ... can follow it. It sends\n"
              "watchers the results only (widen it with brelo-ctl mask and dbg).\n"
              "Progress goes to standard error when it is a terminal.\n",
          .options = {csv, json, until, motes, seed, adc, link, topology, lossy, rate, fast, out, stats,
                      energy, figures, trace, check, attach, brelo},
          .help_column = 18,
          .notes = "Exit status 2 when the file has mistakes (each reported as FILE:LINE) or\n"
                   "--out cannot write its folder.\n",
          .min_words = 1,
          .max_words = 1,
          .run = run_file};
}

}  // namespace brelo_ctl
