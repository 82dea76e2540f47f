# Reading the agent's daily logs in the shell tests. Set `logs` to the logs
# folder first.

# `log_of QUEUE`: today's daily log of QUEUE.
log_of() { echo "$logs/$1_$(date +%Y%m%d).xml"; }

# `entry QUEUE ID`: the entry of that job as "user|printer|doc|pages|cost",
# or nothing.
entry() {
  grep -o "<id>$2</id><user>[^<]*</user> <printer>[^<]*</printer><doc>[^<]*</doc> <pages>[0-9-]*</pages> <cost>[0-9-]*</cost>" \
    "$(log_of "$1")" 2>/dev/null |
    sed 's|<id>[0-9]*</id><user>\([^<]*\)</user> <printer>\([^<]*\)</printer><doc>\([^<]*\)</doc> <pages>\([0-9-]*\)</pages> <cost>\([0-9-]*\)</cost>|\1\|\2\|\3\|\4\|\5|'
}

# `log_entries QUEUE`: every job entry of QUEUE's log today, one a line, as
# "id|user|printer|doc|pages|cost", in the log's order.
log_entries() {
  grep -o "<id>[^<]*</id><user>[^<]*</user> <printer>[^<]*</printer><doc>[^<]*</doc> <pages>[0-9-]*</pages> <cost>[0-9-]*</cost>" \
    "$(log_of "$1")" 2>/dev/null |
    sed 's|<id>\([^<]*\)</id><user>\([^<]*\)</user> <printer>\([^<]*\)</printer><doc>\([^<]*\)</doc> <pages>\([0-9-]*\)</pages> <cost>\([0-9-]*\)</cost>|\1\|\2\|\3\|\4\|\5\|\6|'
}

# `entries FILE`: "id pages cost user" of every entry in a daily log.
entries() {
  grep -o '<id>[0-9]*</id><user>[^<]*</user> <printer>[^<]*</printer><doc>[^<]*</doc> <pages>[0-9-]*</pages> <cost>[0-9-]*</cost>' \
    "$1" 2>/dev/null |
    sed 's|<id>\([0-9]*\)</id><user>\([^<]*\)</user>.*<pages>\([0-9-]*\)</pages> <cost>\([0-9-]*\)</cost>|\1 \3 \4 \2|'
}
