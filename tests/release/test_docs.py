#!/usr/bin/env python3
"""The manual page and the bash completion against the tool itself: each verb's --help
and the manual page name the same options, verbs and exit statuses, and the completion
offers each verb's options (no more, no fewer), the values of options that take one,
and setups for list, test and extract."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

from support import Failure, arguments, check, run

OPTION = re.compile(r'(?<![\w-])--?[A-Za-z][\w-]*(?<!-)')
# An option followed by its value's name: "--output OUT", "--output=OUT", "-C DIR".
TAKES_VALUE = re.compile(r'(--?[A-Za-z][\w-]*)(?: |=|\[=)([A-Z][A-Z0-9_]*)\b')


def option_lines(help_text):
    """The lines of a --help that describe options: indented and starting with a dash."""
    return [line.strip() for line in help_text.splitlines() if re.match(r'\s+-', line)]


def help_options(help_text):
    return {token for line in option_lines(help_text)
            for token in OPTION.findall(re.split(r'\s{2,}', line)[0])}


def help_value_options(help_text):
    taking = set()
    for line in option_lines(help_text):
        column = re.split(r'\s{2,}', line)[0]
        if TAKES_VALUE.search(column):
            taking |= set(OPTION.findall(column))
    return taking


def help_verbs(help_text):
    block = help_text.split('verbs:', 1)[1].split('\n\n', 1)[0]
    return set(re.findall(r'^\s+([a-z]+)\s{2,}', block, re.M))


def exit_codes(text):
    """The statuses in the "exit status:" paragraph of a --help."""
    match = re.search(r'exit status:(.*?)(\n\n|$)', text, re.S)
    return set(re.findall(r'(?<![\w-])(\d+) ', match.group(1))) if match else set()


# --- the manual page ------------------------------------------------------------------

def plain(roff):
    text = re.sub(r'\\f[BIRP]|\\f\(\w\w|\\&', '', roff)
    return text.replace('\\-', '-').replace('\\e', '\\').replace('"', '')


def sections(page):
    """{heading: [lines]} for .SH and .SS headings."""
    found, heading = {}, None
    for line in page.splitlines():
        if line.startswith(('.SH ', '.SS ')):
            heading = plain(line[4:]).strip()
            found[heading] = []
        elif heading is not None:
            found[heading].append(line)
    return found


def tags(lines):
    """The tag lines of .TP items, as plain text."""
    return [re.sub(r'^\.[A-Z]+ ', '', plain(lines[i + 1]))
            for i, line in enumerate(lines[:-1]) if line.strip() == '.TP']


def page_options(lines):
    return {token for tag in tags(lines) for token in OPTION.findall(tag)}


def check_page(tool, page_path):
    with open(page_path, encoding='utf-8') as handle:
        page_text = handle.read()
    page = sections(page_text)
    main_help = run([tool, '--help'])
    verbs = help_verbs(main_help)
    check(verbs, 'no verbs found in vorpanex --help')
    title = plain(page_text.split('\n.TH ', 1)[1].split('\n', 1)[0])
    version = run([tool, '--version']).splitlines()[0]
    check(version in title, 'the page is of "%s", the tool says "%s"' % (title, version))
    verb_sections = {heading.split()[1]: lines for heading, lines in page.items()
                     if heading.startswith('vorpanex ') and len(heading.split()) > 1}
    check(set(verb_sections) == verbs, 'verbs: --help %s, manual page %s'
          % (sorted(verbs), sorted(verb_sections)))
    synopsis = plain('\n'.join(page.get('SYNOPSIS', [])))
    for verb in verbs:
        check(re.search(r'\b%s\b' % verb, synopsis), '%s missing from SYNOPSIS' % verb)

    problems = []
    for verb in sorted(verbs):
        text = run([tool, verb, '--help'])
        compare(problems, 'vorpanex %s' % verb, help_options(text),
                page_options(verb_sections[verb]))
        # A status may have its own entry or be named in another's (129 and 143 in 130's).
        documented = set(re.findall(r'\b\d+\b', plain('\n'.join(page['EXIT STATUS']))))
        unknown = exit_codes(text) - documented
        if unknown:
            problems.append('vorpanex %s --help: exit status %s is not in the manual page'
                            % (verb, sorted(unknown)))
    compare(problems, 'vorpanex', help_options(main_help), page_options(page['OPTIONS']))
    compare(problems, 'exit status', exit_codes(main_help),
            {tag.strip() for tag in tags(page['EXIT STATUS'])})
    check(not problems, '\n'.join(problems))


def compare(problems, what, in_help, in_page):
    if in_help - in_page:
        problems.append('%s: --help has %s, the manual page does not'
                        % (what, sorted(in_help - in_page)))
    if in_page - in_help:
        problems.append('%s: the manual page has %s, --help does not'
                        % (what, sorted(in_page - in_help)))


# --- the bash completion --------------------------------------------------------------

VALUES = [('pack', '--method', {'lh7', 'lh6', 'lh5', 'lh0'}), ('pack', '--codepage', {'932', '1252'}),
          ('list', '--codepage', {'932', '1252'}), ('list', '--format', {'plain', 'json'}),
          ('pack', '--execution-level', {'asInvoker', 'highestAvailable', 'requireAdministrator'}),
          ('pack', '--version-language', {'0409', '0411'})]


def complete(script, words, directory):
    """What the completion offers for `words` (the last one is being completed);
    "(nospace)" when it asks bash to add no space after its word."""
    program = ('compopt() { [[ $* == *nospace* ]] && echo "(nospace)"; return 0; }; '
               'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); '
               'COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; _vorpanex; '
               'printf "%s\\n" "${COMPREPLY[@]}"')
    result = subprocess.run(['bash', '--norc', '--noprofile', '-c', program, 'bash', script]
                            + words, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            cwd=directory)
    check(result.returncode == 0 and not result.stderr,
          'completing %s: %s' % (words, result.stderr.decode(errors='replace')))
    return set(filter(None, result.stdout.decode().splitlines()))


def check_completion(tool, script):
    if shutil.which('bash') is None:
        print('note: bash is not installed; the completion was not tried')
        return
    main_help = run([tool, '--help'])
    problems = []
    with tempfile.TemporaryDirectory(prefix='vorpanex-completion-') as directory:
        for name in ('setup.exe', 'OLD.EXE', 'files.lzh', 'notes.txt', 'hanabi.ico'):
            open(os.path.join(directory, name), 'w').close()
        os.mkdir(os.path.join(directory, 'out'))

        def expect(words, wanted):
            got = complete(script, ['vorpanex'] + words, directory)
            if got != set(wanted):
                problems.append('vorpanex %s<TAB>: offers %s, expected %s'
                                % (' '.join(words), sorted(got), sorted(wanted)))

        verbs = help_verbs(main_help)
        expect([''], verbs)
        expect(['-'], help_options(main_help))
        for verb in sorted(verbs):
            text = run([tool, verb, '--help'])
            options = help_options(text)
            expect([verb, '-'], options)
            for option in sorted(options):
                # After an option that takes a value, no option is offered.
                offered = complete(script, ['vorpanex', verb, option, '-'], directory)
                if (option in help_value_options(text)) == bool(offered):
                    problems.append('vorpanex %s %s -<TAB>: offers %s' % (
                        verb, option, sorted(offered) or 'nothing'))
        setups = {'setup.exe', 'OLD.EXE', 'files.lzh', 'out'}
        for verb in sorted(verbs - {'pack'}):
            expect([verb, ''], setups)
        expect(['pack', '--output', '=', 's'], {'setup.exe'})
        expect(['pack', '-o', 'x', ''], setups | {'notes.txt', 'hanabi.ico'})
        expect(['pack', '--icon', ''], {'hanabi.ico', 'out'})
        expect(['pack', '--version-info', 'Comp'], {'CompanyName=', '(nospace)'})
        expect(['pack', '--version-info', '=', 'Prod'],
               {'ProductName=', 'ProductVersion=', '(nospace)'})
        expect(['pack', '--version-info', 'CompanyName', '=', 'Ha'], set())
        expect(['extract', 'setup.exe', '--directory', '=', ''], {'out'})
        expect(['test', '--', '-'], set())   # after --, only files
        # The values offered for an option are the ones its verb's --help names.
        for verb, option, values in VALUES:
            expect([verb, option, '=', ''], values)
            text = run([tool, verb, '--help'])
            for value in values - set(re.findall(r'\w+', text)):
                problems.append('the completion offers %s for %s %s; its --help does not '
                                'name it' % (value, verb, option))
    check(not problems, '\n'.join(problems))


def main():
    options = arguments()
    options.source = os.path.abspath(options.source)
    check_page(options.tool, os.path.join(options.source, 'doc', 'vorpanex.1'))
    check_completion(options.tool, os.path.join(options.source, 'doc',
                                                'vorpanex.bash-completion'))
    print('passed: the manual page and the completion match every verb\'s --help')
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Failure as failure:
        print('FAILED: %s' % failure)
        sys.exit(1)
