package com.corvane.qel.deployer.modburn.tool.cli;

import java.time.Duration;
import java.util.Locale;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import picocli.CommandLine.ITypeConverter;
import picocli.CommandLine.TypeConversionException;

/**
 * A duration as operators write it, for every option that takes one (--wave-pause, --wait-back):
 * plain seconds ("90"); amounts with units h, m, s and ms, run together in any order ("1h30m",
 * "30s", "250ms", "5m30s"); hours, minutes and seconds in that order with the seconds' "s" left
 * out ("2m30", "1h30" is an hour and 30 seconds); or a clock, m:ss or h:mm:ss ("3:12",
 * "1:00:00"). Case and surrounding blanks do not matter; blanks inside do. Each option checks
 * its own range.
 */
public final class DurationConverter implements ITypeConverter<Duration> {
    /** The forms, for the options' help. */
    static final String FORMS = "90 (seconds), 250ms, 30s, 5m, 1h30m, 3:12 (m:ss) or 1:00:00";

    private static final Pattern PART = Pattern.compile("(\\d{1,9})(ms|h|m|s)");
    private static final Pattern ORDERED = Pattern.compile("(?:(\\d{1,9})h)?(?:(\\d{1,9})m)?(?:(\\d{1,9})s?)?");
    private static final Pattern CLOCK = Pattern.compile("(?:(\\d{1,9}):)?(\\d{1,9}):(\\d{2})");

    @Override
    public Duration convert(String text) {
        Duration d = parse(text);
        if (d == null) {
            throw new TypeConversionException("takes a duration such as " + FORMS + ", not \"" + text + "\"");
        }
        return d;
    }

    /** The duration the text writes, or null when it writes none. */
    static Duration parse(String text) {
        String t = text == null ? "" : text.strip().toLowerCase(Locale.ROOT);
        if (t.isEmpty()) {
            return null;
        }
        Matcher clock = CLOCK.matcher(t);
        if (clock.matches()) {
            return Duration.ofHours(number(clock.group(1))).plusMinutes(number(clock.group(2)))
                .plusSeconds(number(clock.group(3)));
        }
        Matcher ordered = ORDERED.matcher(t);
        if (ordered.matches()) {
            return Duration.ofHours(number(ordered.group(1))).plusMinutes(number(ordered.group(2)))
                .plusSeconds(number(ordered.group(3)));
        }
        Duration sum = Duration.ZERO;
        Matcher part = PART.matcher(t);
        int at = 0;
        while (part.find() && part.start() == at) {
            long n = number(part.group(1));
            sum = sum.plus(switch (part.group(2)) {
                case "ms" -> Duration.ofMillis(n);
                case "s" -> Duration.ofSeconds(n);
                case "m" -> Duration.ofMinutes(n);
                default -> Duration.ofHours(n);
            });
            at = part.end();
        }
        return at == t.length() ? sum : null;
    }

    private static long number(String digits) {
        return digits == null ? 0 : Long.parseLong(digits);
    }

    /** The duration when it lies in [min, max]; otherwise the option's usage error. */
    static Duration within(Duration d, String option, Duration min, Duration max) {
        if (d.compareTo(min) < 0 || d.compareTo(max) > 0) {
            throw new UsageException(option + " takes a duration from " + shown(min) + " to " + shown(max)
                + ", such as " + FORMS);
        }
        return d;
    }

    /** 0, 1s or 24h: the bounds as the message shows them. */
    private static String shown(Duration d) {
        if (d.isZero()) {
            return "0";
        }
        return d.toSeconds() % 3600 == 0 ? d.toHours() + "h" : d.toSeconds() + "s";
    }
}
